// Short strings and the stored form of user and group records.

#include "admin/account_records.h"

#include <gtest/gtest.h>

#include <string>

namespace vesk2::admin {
namespace {

// Writes a short string by hand: length byte, then the text, at `offset`.
void putShort(std::string& bytes, std::size_t offset, const std::string& text)
{
    bytes[offset] = static_cast<char>(text.size());
    bytes.replace(offset + 1, text.size(), text);
}

TEST(ShortString, CutsAtCapacityOnACharacterBoundary)
{
    struct Case {
        const char* in;
        std::size_t capacity;
        std::size_t want;
    };
    const Case cases[] = {
        {"abc", 5, 3},
        {"abcdefgh", 5, 5},
        {"abcd\xE2\x82\xAC", 5, 4},             // euro sign (3 bytes) does not fit after 4
        {"abc\xE2\x82\xAC", 5, 3},              // nor after 3
        {"ab\xE2\x82\xAC", 5, 5},               // fits exactly
        {"a\xF0\x9F\x98\x80z", 4, 1},           // 4-byte character
        {"\xC3\xA9\xC3\xA9\xC3\xA9", 5, 4},     // two of three e-acute
        {"\x80\x80\x80\x80\x80\x80\x80", 5, 5}, // not UTF-8: cut where it stands
    };
    for (const Case& c : cases)
        EXPECT_EQ(cutAtCharBoundary(c.in, c.capacity), c.want) << c.in << " / " << c.capacity;

    ShortString<40> name(std::string(45, 'x'));
    EXPECT_EQ(name.text(), std::string(40, 'x'));
    std::string accented = "a";
    for (int i = 0; i < 20; ++i)
        accented += "\xC3\xA9"; // 41 bytes
    ShortString<40> cut(accented);
    EXPECT_EQ(cut.length(), 39u);
    EXPECT_EQ(cut.text(), accented.substr(0, 39));
}

TEST(ShortString, KeepsStaleFillerAndIgnoresItInComparisons)
{
    ShortString<10> s("abcdef");
    s.assign("xy");
    EXPECT_EQ(s.text(), "xy");
    const std::string stored(reinterpret_cast<const char*>(s.bytes().data()), s.bytes().size());
    EXPECT_EQ(stored, std::string("\x02xycdef\0\0\0\0\0", 11));
    EXPECT_TRUE(s == ShortString<10>("xy"));
    EXPECT_FALSE(s == ShortString<10>("xyc"));
    EXPECT_FALSE(ShortString<10>("Ab") == ShortString<10>("ab"));

    // A damaged length byte above the capacity counts as the capacity.
    std::string damaged(11, 'q');
    damaged[0] = static_cast<char>(200);
    EXPECT_EQ(ShortString<10>::readFrom(damaged.data()).text(), std::string(10, 'q'));
}

// A user record laid out by hand at the documented offsets.
std::string handBuiltUser()
{
    std::string b(3718, '\0');
    putShort(b, 0, "alice");
    putShort(b, 41, "pw1234567");
    putShort(b, 41, "pw1"); // leaves "234567" as stale filler
    putShort(b, 82, "secret key");
    putShort(b, 163, "/home/alice");
    putShort(b, 244, "/srv/a"); // access slot 1
    b[244 + 81] = 1;            // Read
    b[244 + 87] = 1;            // Create
    putShort(b, 244 + 31 * 88, "/srv/last"); // access slot 32
    b[244 + 31 * 88 + 86] = 1;               // Inheritable
    putShort(b, 3060, "staff");              // membership slot 1
    putShort(b, 3060 + 15 * 41, "g16");      // membership slot 16
    b[3716] = 1;                             // SuperUser
    b[3717] = 1;                             // Enabled
    return b;
}

TEST(AccountRecords, UserRecordFieldsSitAtTheirOffsets)
{
    const std::string bytes = handBuiltUser();
    std::optional<UserRecord> u = UserRecord::decode(bytes);
    ASSERT_TRUE(u);
    EXPECT_EQ(u->UserName.text(), "alice");
    EXPECT_EQ(u->Password.text(), "pw1");
    EXPECT_EQ(u->EncryptionKey.text(), "secret key");
    EXPECT_EQ(u->HomeDirectory.text(), "/home/alice");
    EXPECT_EQ(u->Access[0].Path.text(), "/srv/a");
    EXPECT_TRUE(u->Access[0].Read);
    EXPECT_FALSE(u->Access[0].List);
    EXPECT_FALSE(u->Access[0].Inheritable);
    EXPECT_TRUE(u->Access[0].Create);
    EXPECT_FALSE(u->Access[1].used());
    EXPECT_EQ(u->Access[31].Path.text(), "/srv/last");
    EXPECT_TRUE(u->Access[31].right(Right::Inheritable));
    EXPECT_FALSE(u->Access[31].right(Right::Delete));
    EXPECT_EQ(u->Groups[0].text(), "staff");
    EXPECT_EQ(u->Groups[15].text(), "g16");
    EXPECT_TRUE(u->SuperUser);
    EXPECT_TRUE(u->Enabled);

    // Encoding gives back the same bytes, stale filler included.
    EXPECT_EQ(u->encode(), bytes);

    // Built from fields, the record lands on the same bytes.
    UserRecord built;
    built.UserName.assign("alice");
    built.Password.assign("pw1234567");
    built.Password.assign("pw1");
    built.EncryptionKey.assign("secret key");
    built.HomeDirectory.assign("/home/alice");
    built.Access[0].Path.assign("/srv/a");
    built.Access[0].setRight(Right::Read, true);
    built.Access[0].setRight(Right::Create, true);
    built.Access[31].Path.assign("/srv/last");
    built.Access[31].Inheritable = true;
    built.Groups[0].assign("staff");
    built.Groups[15].assign("g16");
    built.SuperUser = true;
    built.Enabled = true;
    EXPECT_EQ(built.encode(), bytes);
}

TEST(AccountRecords, GroupRecordFieldsSitAtTheirOffsets)
{
    std::string b(2939, '\0');
    putShort(b, 0, "staff");
    putShort(b, 41, "/home/staff-old");
    putShort(b, 41, "/home/st");
    putShort(b, 122 + 88, "/srv/shared"); // access slot 2
    b[122 + 88 + 82] = 1;                 // List
    b[122 + 88 + 83] = 1;                 // Write
    b[122 + 88 + 84] = 1;                 // Rename
    b[122 + 88 + 85] = 1;                 // Delete
    b[2938] = 1;                          // Enabled

    std::optional<GroupRecord> g = GroupRecord::decode(b);
    ASSERT_TRUE(g);
    EXPECT_EQ(g->GroupName.text(), "staff");
    EXPECT_EQ(g->HomeDirectory.text(), "/home/st");
    EXPECT_FALSE(g->Access[0].used());
    const AccessEntry& e = g->Access[1];
    EXPECT_EQ(e.Path.text(), "/srv/shared");
    EXPECT_EQ((std::array{e.Read, e.List, e.Write, e.Rename, e.Delete, e.Inheritable, e.Create}),
              (std::array{false, true, true, true, true, false, false}));
    EXPECT_TRUE(g->Enabled);
    EXPECT_EQ(g->encode(), b);
}

TEST(AccountRecords, FlagsReadAnyNonZeroAsOnAndWriteOne)
{
    std::string b = handBuiltUser();
    b[3717] = 7;        // Enabled
    b[244 + 82] = 0x40; // List of slot 1
    b[3716] = 0;        // SuperUser off
    std::optional<UserRecord> u = UserRecord::decode(b);
    ASSERT_TRUE(u);
    EXPECT_TRUE(u->Enabled);
    EXPECT_TRUE(u->Access[0].List);
    EXPECT_FALSE(u->SuperUser);
    const std::string again = u->encode();
    EXPECT_EQ(again[3717], 1);
    EXPECT_EQ(again[244 + 82], 1);
    EXPECT_EQ(again[3716], 0);
}

TEST(AccountRecords, DecodeWantsExactlyOneRecord)
{
    EXPECT_FALSE(UserRecord::decode(std::string(3717, '\0')));
    EXPECT_FALSE(UserRecord::decode(std::string(3719, '\0')));
    EXPECT_FALSE(GroupRecord::decode(std::string(3718, '\0')));
    EXPECT_TRUE(GroupRecord::decode(std::string(2939, '\0')));
}

} // namespace
} // namespace vesk2::admin
