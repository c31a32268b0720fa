#include "platform/file_system.h"

#include "support/sandbox.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace vesk2::platform {
namespace {

namespace fs = std::filesystem;

TEST(WildcardMatch, FollowsWindowsRulesCaseSensitively)
{
    struct Case {
        const char* pattern;
        const char* name;
        bool want;
    };
    const Case cases[] = {
        {"*", "abc", true},
        {"*", ".profile", true},
        {"*.*", "noextension", true},   // "*.*" is every name, dot or not
        {"*.*", ".", true},
        {"*.txt", "a.txt", true},
        {"*.txt", "a.txt.bak", false},
        {"*.txt", ".txt", true},
        {"?.txt", "a.txt", true},
        {"?.txt", "ab.txt", false},
        {"?.txt", ".txt", false},
        {"a?c", "ac", false},
        {"a*b*c", "axxbyyc", true},
        {"a*b*c", "axxbyy", false},
        {"a*", "a", true},
        {"**x", "abx", true},
        {"*.TXT", "a.txt", false},      // the file system is case-sensitive
        {"report", "report", true},
        {"report", "Report", false},
        {"?", "\xC3\xA9", true},        // one character, two bytes in UTF-8
        {"??", "\xC3\xA9", false},
        {"caf?.txt", "caf\xC3\xA9.txt", true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(wildcardMatch(c.pattern, c.name), c.want) << c.pattern << " vs " << c.name;
    }
}

class FileSystemTest : public test::Sandbox {};

TEST_F(FileSystemTest, SearchReportsEveryKindOfEntry)
{
    writeFile("a.txt", "hello");
    writeFile(".hidden", "x");
    writeFile("locked.txt", "abc");
    fs::permissions(path("locked.txt"), fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
    fs::create_directory(path("sub"));
    fs::create_symlink("a.txt", path("link"));
    fs::create_symlink("missing-target", path("dangling"));

    const std::vector<DirEntry> found = findFiles(dir() + "*");
    std::vector<std::string> names;
    for (const DirEntry& entry : found) {
        names.push_back(entry.name);
    }
    // "." and ".." first, then by name.
    EXPECT_EQ(names, (std::vector<std::string>{".", "..", ".hidden", "a.txt", "dangling", "link", "locked.txt", "sub"}));

    auto byName = [&](const std::string& name) {
        for (const DirEntry& entry : found) {
            if (entry.name == name) {
                return entry;
            }
        }
        ADD_FAILURE() << name << " not found";
        return DirEntry{};
    };
    EXPECT_TRUE(byName(".").isDirectory);
    EXPECT_FALSE(byName(".").isHidden);
    EXPECT_FALSE(byName("..").isHidden);
    EXPECT_TRUE(byName(".hidden").isHidden);

    const DirEntry file = byName("a.txt");
    EXPECT_EQ(file.size, 5);
    EXPECT_FALSE(file.isDirectory || file.isReadOnly || file.isHidden || file.isSymlink);
    EXPECT_TRUE(byName("locked.txt").isReadOnly);

    const DirEntry sub = byName("sub");
    EXPECT_TRUE(sub.isDirectory);
    EXPECT_EQ(sub.size, 0);

    const DirEntry link = byName("link");
    EXPECT_TRUE(link.isSymlink);
    EXPECT_EQ(link.linkTarget, "a.txt");
    EXPECT_EQ(link.size, 5);            // what a download of the link reads

    const DirEntry dangling = byName("dangling");
    EXPECT_TRUE(dangling.isSymlink);
    EXPECT_EQ(dangling.linkTarget, "missing-target");
    EXPECT_FALSE(dangling.isDirectory);
}

TEST_F(FileSystemTest, PatternsWithoutWildcardsLookUpOneName)
{
    writeFile("a.txt", "hello");
    writeFile("b.log", "x");
    fs::create_directory(path("sub"));

    const std::vector<DirEntry> txt = findFiles(dir() + "*.txt");
    ASSERT_EQ(txt.size(), 1u);
    EXPECT_EQ(txt[0].name, "a.txt");

    const std::vector<DirEntry> exact = findFiles(dir() + "b.log");
    ASSERT_EQ(exact.size(), 1u);
    EXPECT_EQ(exact[0].name, "b.log");

    // A directory named exactly is that one entry, not its contents.
    const std::vector<DirEntry> subdir = findFiles(dir() + "sub");
    ASSERT_EQ(subdir.size(), 1u);
    EXPECT_EQ(subdir[0].name, "sub");
    EXPECT_TRUE(subdir[0].isDirectory);

    EXPECT_TRUE(findFiles(dir() + "missing").empty());
    EXPECT_TRUE(findFiles(dir() + "nodir/*").empty());
    EXPECT_TRUE(findFiles(dir()).empty());                        // ends in "/"
    EXPECT_TRUE(findFiles(dir() + std::string("a.txt\0.log", 10)).empty());
    EXPECT_FALSE(statEntry(dir() + std::string("a.txt\0", 6)).has_value());
}

TEST_F(FileSystemTest, SizesAreSixtyFourBit)
{
    writeFile("big.iso", "");
    const std::int64_t fiveGiB = 5LL * 1024 * 1024 * 1024;
    fs::resize_file(path("big.iso"), static_cast<std::uintmax_t>(fiveGiB));   // sparse

    const std::optional<DirEntry> entry = statEntry(path("big.iso"));
    ASSERT_TRUE(entry.has_value());
    EXPECT_EQ(entry->size, fiveGiB);
    const std::vector<DirEntry> found = findFiles(dir() + "*.iso");
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].size, fiveGiB);
}

TEST_F(FileSystemTest, ModifiedTimeRoundTripsWithMilliseconds)
{
    writeFile("f", "x");
    const TimePoint when = TimePoint(std::chrono::milliseconds(1'234'567'890'123LL));
    ASSERT_TRUE(setModifiedTime(path("f"), when));
    const std::optional<DirEntry> entry = statEntry(path("f"));
    ASSERT_TRUE(entry.has_value());
    EXPECT_EQ(entry->modified, when);
    EXPECT_FALSE(setModifiedTime(path("missing"), when));
}

TEST_F(FileSystemTest, ExistenceHelpersTellFilesFromDirectories)
{
    writeFile("f", "x");
    fs::create_directory(path("d"));
    fs::create_symlink("d", path("to-d"));

    EXPECT_TRUE(fileExists(path("f")));
    EXPECT_FALSE(fileExists(path("d")));
    EXPECT_FALSE(fileExists(path("missing")));
    EXPECT_TRUE(directoryExists(path("d")));
    EXPECT_TRUE(directoryExists(path("to-d")));
    EXPECT_FALSE(directoryExists(path("f")));
}

TEST_F(FileSystemTest, ReadFileHeadStopsAtTheLimitAndRefusesNonFiles)
{
    writeFile("f", "0123456789");
    fs::create_directory(path("d"));

    EXPECT_EQ(readFileHead(path("f"), 4).bytes, "0123");
    EXPECT_EQ(readFileHead(path("f"), 100).bytes, "0123456789");
    EXPECT_TRUE(readFileHead(path("f"), 100).ok());

    const ReadResult missing = readFileHead(path("missing"), 10);
    EXPECT_FALSE(missing.ok());
    EXPECT_NE(missing.error.find(path("missing")), std::string::npos);

    const ReadResult directory = readFileHead(path("d"), 10);
    EXPECT_FALSE(directory.ok());
    EXPECT_TRUE(directory.bytes.empty());
}

} // namespace
} // namespace vesk2::platform
