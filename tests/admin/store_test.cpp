// The account files: sample records, the saved/working/scratch discipline,
// partial records at the end of a file and failed writes.

#include "admin/account_store.h"
#include "admin/safe_file.h"
#include "support/sandbox.h"

#include <filesystem>

namespace vesk2::admin {
namespace {

class AccountStoreTest : public test::Sandbox {
protected:
    UserRecord user(const std::string& name)
    {
        UserRecord u;
        u.UserName.assign(name);
        u.Password.assign("pw-" + name);
        return u;
    }
    std::string userFile(std::initializer_list<const char*> names)
    {
        std::string bytes;
        for (const char* n : names)
            bytes += user(n).encode();
        return bytes;
    }
    static std::vector<std::string> texts(const std::vector<NameString>& names)
    {
        std::vector<std::string> out;
        for (const NameString& n : names)
            out.push_back(n.text());
        return out;
    }
};

TEST_F(AccountStoreTest, FirstRunWritesTheSampleRecords)
{
    AccountStore store(dir().substr(0, dir().size() - 1)); // without the trailing "/"
    EXPECT_EQ(store.users().workingPath(), path("vesk2users.tmp"));

    NameList users = store.users().loadList();
    NameList groups = store.groups().loadList();
    EXPECT_EQ(texts(users.names), std::vector<std::string>{"SampleUser"});
    EXPECT_EQ(texts(groups.names), std::vector<std::string>{"SampleGroup"});
    EXPECT_FALSE(std::filesystem::exists(path("vesk2users.dat")));

    const std::string u = readFile("vesk2users.tmp");
    ASSERT_EQ(u.size(), 3718u);
    EXPECT_EQ(u.substr(0, 11), "\x0ASampleUser");
    EXPECT_EQ(u.substr(41, 19), "\x12PlainOrdinaryWords");
    EXPECT_EQ(u.substr(82, 41), "\x28Key text of the demo account, change it.");
    EXPECT_EQ(u.substr(163, 5), "\x04/tmp");
    EXPECT_EQ(u.substr(244, 5), "\x04/tmp");
    EXPECT_EQ(u.substr(244 + 81, 7), std::string("\1\1\1\0\0\0\0", 7)); // Read, List, Write
    EXPECT_EQ(u.substr(244 + 88, 88), std::string(88, '\0'));          // slot 2 unused
    EXPECT_EQ(u.substr(3060, 12), "\x0BSampleGroup");
    EXPECT_EQ(u.substr(3716, 2), std::string("\0\0", 2)); // not a superuser, not enabled

    const std::string g = readFile("vesk2groups.tmp");
    ASSERT_EQ(g.size(), 2939u);
    EXPECT_EQ(g.substr(0, 12), "\x0BSampleGroup");
    EXPECT_EQ(g.substr(41, 53), "\x34This is ignored if the user has a home directory set");
    EXPECT_EQ(g.substr(122, 13), "\x0C/tmp/Testing");
    EXPECT_EQ(g.substr(122 + 81, 7), std::string("\1\1\0\0\0\1\0", 7)); // Read, List, Inheritable
    EXPECT_EQ(g[2938], 0);

    // An existing working file is read, not replaced.
    writeFile("vesk2users.tmp", userFile({"a", "b"}));
    EXPECT_EQ(texts(store.users().loadList().names), (std::vector<std::string>{"a", "b"}));
}

TEST_F(AccountStoreTest, PartialRecordAtTheEndIsNeverReadNorCutByReading)
{
    const std::string bytes = userFile({"a", "b"}) + std::string(100, 'z');
    writeFile("vesk2users.tmp", bytes);
    AccountStore store(dir());
    UserStore& users = store.users();

    EXPECT_EQ(texts(users.loadList().names), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(users.readWorking().records.size(), 2u);
    EXPECT_TRUE(users.find(NameString("b")));
    EXPECT_FALSE(users.find(NameString("zzzz")));
    EXPECT_EQ(users.flush(user("b")), ""); // same record: nothing to write
    EXPECT_EQ(users.flush(user("nobody")), "");
    EXPECT_EQ(readFile("vesk2users.tmp"), bytes);

    // A changed record is written in place; the rest of the file stays.
    UserRecord b = user("b");
    b.Enabled = true;
    EXPECT_EQ(users.flush(b), "");
    std::string want = bytes;
    want.replace(3718, 3718, b.encode());
    EXPECT_EQ(readFile("vesk2users.tmp"), want);

    // An appended record takes the place of the partial one.
    EXPECT_EQ(users.append(user("c")), "");
    EXPECT_EQ(readFile("vesk2users.tmp"), want.substr(0, 2 * 3718) + user("c").encode());
}

TEST_F(AccountStoreTest, LookupsMatchExactlyAndFindTheFirst)
{
    UserRecord second = user("Bob");
    second.Password.assign("second");
    writeFile("vesk2users.tmp", user("bob").encode() + user("Bob").encode() + second.encode());
    AccountStore store(dir());
    EXPECT_EQ(store.users().find(NameString("Bob"))->Password.text(), "pw-Bob");
    EXPECT_EQ(store.users().find(NameString("bob"))->Password.text(), "pw-bob");
    EXPECT_FALSE(store.users().find(NameString("BOB")));

    EXPECT_EQ(store.users().renameFirst(NameString("Bob"), "Carol"), "");
    EXPECT_EQ(texts(store.users().loadList().names), (std::vector<std::string>{"bob", "Carol", "Bob"}));
}

TEST_F(AccountStoreTest, RemoveDropsEveryRecordOfTheNameThroughTheScratchFile)
{
    writeFile("vesk2users.tmp", userFile({"x", "y", "x", "z", "x"}));
    AccountStore store(dir());
    EXPECT_EQ(store.users().removeAll(NameString("x")), "");
    EXPECT_EQ(readFile("vesk2users.tmp"), userFile({"y", "z"}));
    EXPECT_FALSE(std::filesystem::exists(path("vesk2users.tmp.tmp")));
}

TEST_F(AccountStoreTest, SaveDiscardAndStartUpCopyWholeFiles)
{
    AccountStore store(dir());
    UserStore& users = store.users();
    EXPECT_EQ(users.discard(), ""); // no saved file: the working file stays as it is
    writeFile("vesk2users.tmp", userFile({"w"}));
    EXPECT_EQ(users.discard(), "");
    EXPECT_EQ(readFile("vesk2users.tmp"), userFile({"w"}));

    EXPECT_EQ(users.save(), "");
    EXPECT_EQ(readFile("vesk2users.dat"), userFile({"w"}));
    writeFile("vesk2users.tmp", userFile({"w", "v"}));
    EXPECT_EQ(users.discard(), "");
    EXPECT_EQ(readFile("vesk2users.tmp"), userFile({"w"}));

    writeFile("vesk2users.dat", userFile({"saved"}));
    EXPECT_EQ(users.startUp(), "");
    EXPECT_EQ(readFile("vesk2users.tmp"), userFile({"saved"}));

    std::filesystem::remove(path("vesk2users.tmp"));
    EXPECT_NE(users.save(), ""); // nothing to save from: reported, saved file kept
    EXPECT_EQ(readFile("vesk2users.dat"), userFile({"saved"}));
}

TEST_F(AccountStoreTest, FailedWritesLeaveThePreviousFile)
{
    const std::string before = userFile({"a", "b"});
    writeFile("vesk2users.tmp", before);
    writeFile("vesk2users.dat", before);
    AccountStore store(dir());
    UserStore& users = store.users();
    // Block the file a safe write goes through.
    const std::string blocker = pendingWriteName(users.workingPath());
    std::filesystem::create_directories(blocker + "/inside");

    UserRecord a = user("a");
    a.Enabled = true;
    EXPECT_NE(users.flush(a), "");
    EXPECT_NE(users.append(user("c")), "");
    EXPECT_NE(users.renameFirst(NameString("a"), "q"), "");
    EXPECT_NE(users.removeAll(NameString("a")), "");
    writeFile("vesk2users.dat", userFile({"other"}));
    EXPECT_NE(users.discard(), "");
    EXPECT_EQ(readFile("vesk2users.tmp"), before);
    EXPECT_TRUE(std::filesystem::is_directory(blocker + "/inside"));
    EXPECT_FALSE(std::filesystem::exists(path("vesk2users.tmp.tmp")));

    // A missing working file is made with the sample only when it really is missing.
    std::filesystem::remove(path("vesk2users.tmp"));
    std::filesystem::create_directory(path("vesk2users.tmp"));
    NameList list = users.loadList();
    EXPECT_NE(list.error, "");
    EXPECT_TRUE(list.names.empty());
    EXPECT_TRUE(std::filesystem::is_directory(path("vesk2users.tmp")));
}

} // namespace
} // namespace vesk2::admin
