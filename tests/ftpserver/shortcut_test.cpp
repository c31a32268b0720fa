#include "ftpserver/shortcut.h"

#include "support/sandbox.h"

#include <gtest/gtest.h>

namespace vesk2::ftpserver {
namespace {

using namespace std::string_literals;

// 101 non-zero bytes, then "C:\" at offsets 101..103.
std::string driveHeader() { return std::string(101, 'L') + "C:\\"s; }

TEST(ShortcutTarget, PicksTheTargetOutOfTheTail)
{
    struct Case {
        const char* what;
        std::string bytes;
        std::string want;
    };
    const Case cases[] = {
        {"drive root at 101..103", driveHeader() + "\0docs\\a.txt\0\0"s, "C:\\docs\\a.txt"},
        {"no drive: the text before joins", "\0server\0file.txt\0\0"s, "server\\file.txt"},
        {"leading dots and backslashes go", "\0dir\0..\\..\\x\0\0"s, "dir\\x"},
        {"after the dot, dots and backslashes go", "\0dir\0.\\.hidden\0\0"s, "dir\\hidden"},
        {"a text without a leading dot stays", "\0dir\0\\x.\\\0\0"s, "dir\\\\x.\\"},
        {"the last byte is never part of it", "\0a\0bc"s, "a\\b"},
        {"many zero bytes are skipped", "\0a\0b\0\0\0\0\0\0"s, "a\\b"},
        {"zero bytes next to each other", "\0a\0\0b\0"s, "\\b"},
        {"no zero before: the start counts", "abcd"s, "\\abc"},
        {"no zero before the join text", "srv\0file\0"s, "srv\\file"},
        {"all dots", "\0d\0...\0\0"s, "d\\"},
        {"all zero bytes", std::string(16, '\0'), "\\"},
        {"one byte", "x"s, "\\"},
        {"nothing read", ""s, "\\"},
        {"colon at 102 in a short buffer", std::string(101, 'L') + "C:"s, "C:" + std::string(101, 'L') + "C"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ShortcutTarget(c.bytes), c.want) << c.what;
    }
}

class ShortcutFileTest : public test::Sandbox {};

TEST_F(ShortcutFileTest, ReadsOnlyUpToTheBufferSize)
{
    std::string bytes = "\0near\0head\0"s;
    bytes.resize(1024, '\0');
    bytes += "\0far\0tail\0\0"s;
    writeFile("long.lnk", bytes);

    const ShortcutReadResult listing = readShortcutFile(path("long.lnk"), kListShortcutBufferSize);
    ASSERT_TRUE(listing.ok()) << listing.error;
    EXPECT_EQ(listing.target, "near\\head");

    const ShortcutReadResult cwd = readShortcutFile(path("long.lnk"), kCwdShortcutBufferSize);
    ASSERT_TRUE(cwd.ok()) << cwd.error;
    EXPECT_EQ(cwd.target, "far\\tail");
}

TEST_F(ShortcutFileTest, AnUnreadableShortcutGivesTheReadError)
{
    const ShortcutReadResult missing = readShortcutFile(path("gone.lnk"), kCwdShortcutBufferSize);
    EXPECT_FALSE(missing.ok());
    EXPECT_TRUE(missing.target.empty());
    EXPECT_NE(missing.error.find("gone.lnk"), std::string::npos);
}

} // namespace
} // namespace vesk2::ftpserver
