#include "ftpserver/listing.h"

#include "support/sandbox.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

namespace vesk2::ftpserver {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;
using platform::DateTime;

// A sandbox in a fixed time zone 60 minutes ahead of UTC, without daylight
// time; "now" is 15 June 2024, noon local time.
class ListingTest : public test::Sandbox {
protected:
    void SetUp() override
    {
        Sandbox::SetUp();
        if (const char* old = std::getenv("TZ")) {
            m_oldTz = old;
        }
        ::setenv("TZ", "CET-1", 1);
        fs::create_directory(path("root"));
        m_root = path("root") + "/";
        m_now = localPoint({2024, 6, 15, 12, 0, 0, 0});
    }
    void TearDown() override
    {
        if (m_oldTz) {
            ::setenv("TZ", m_oldTz->c_str(), 1);
        } else {
            ::unsetenv("TZ");
        }
        Sandbox::TearDown();
    }

    static platform::TimePoint localPoint(const DateTime& local)
    {
        const std::optional<platform::TimePoint> point = platform::fromLocalTime(local);
        EXPECT_TRUE(point.has_value());
        return point.value_or(platform::TimePoint{});
    }
    static void touch(const std::string& fullPath, const DateTime& local)
    {
        ASSERT_TRUE(platform::setModifiedTime(fullPath, localPoint(local))) << fullPath;
    }
    // A file under root/ with `bytes` and a local modification time.
    void makeFile(const std::string& name, const std::string& bytes, const DateTime& local)
    {
        writeFile("root/" + name, bytes);
        touch(m_root + name, local);
    }
    static void makeReadOnly(const std::string& fullPath)
    {
        fs::permissions(fullPath, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                        fs::perm_options::remove);
    }

    std::string list(const std::string& workDir, const std::string& argument, bool detailed = true)
    {
        const ListingResult result = buildListing(workDir, argument, detailed, m_links, m_virtualDirs, m_now);
        EXPECT_TRUE(result.ok()) << result.error;
        return result.text;
    }

    std::string m_root;
    platform::TimePoint m_now;
    PermanentLinkTable m_links;
    VirtualDirTable m_virtualDirs;

private:
    std::optional<std::string> m_oldTz;
};

const DateTime kJune1{2024, 6, 1, 10, 0, 0, 0};

TEST_F(ListingTest, DetailedLinesShowModeSizeDateAndName)
{
    makeFile("name", std::string(1234, 'x'), {2024, 4, 5, 14, 3, 0, 0});
    makeFile("old.txt", "0123456789", {2003, 11, 2, 9, 0, 0, 0});
    makeFile("later.txt", "", {2025, 1, 1, 8, 0, 0, 0});
    makeFile("setup.exe", "MZ", kJune1);
    makeReadOnly(m_root + "setup.exe");
    makeFile("ro.txt", "r", kJune1);
    makeReadOnly(m_root + "ro.txt");
    makeFile("run.BAT", "@echo", kJune1);
    makeFile("tool.com.txt", "t", kJune1);
    fs::create_symlink("name", m_root + "ln");

    struct Case {
        const char* argument;
        const char* want;
    };
    const Case cases[] = {
        {"name", "-rw-rw-rw-   1 ftp      ftp         1234 Apr 05 14:03 name\r\n"},
        {"old.txt", "-rw-rw-rw-   1 ftp      ftp           10 Nov 02  2003 old.txt\r\n"},
        {"later.txt", "-rw-rw-rw-   1 ftp      ftp            0 Jan 01  2025 later.txt\r\n"},
        {"setup.exe", "-r-xr-xr-x   1 ftp      ftp            2 Jun 01 10:00 setup.exe\r\n"},
        {"ro.txt", "-r--r--r--   1 ftp      ftp            1 Jun 01 10:00 ro.txt\r\n"},
        {"run.BAT", "-rwxrwxrwx   1 ftp      ftp            5 Jun 01 10:00 run.BAT\r\n"},
        {"tool.com.txt", "-rw-rw-rw-   1 ftp      ftp            1 Jun 01 10:00 tool.com.txt\r\n"},
        // A symbolic link shows what it points at, its size and time included.
        {"ln", "lrw-rw-rw-   1 ftp      ftp         1234 Apr 05 14:03 ln -> name\r\n"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(list(m_root, c.argument), c.want) << c.argument;
    }
}

TEST_F(ListingTest, TheCurrentYearIsTheLocalYearOfNow)
{
    makeFile("f", "x", {2024, 4, 5, 14, 3, 0, 0});
    EXPECT_NE(list(m_root, "f").find(" Apr 05 14:03 f"), std::string::npos);

    m_now = localPoint({2025, 1, 1, 0, 30, 0, 0});
    EXPECT_NE(list(m_root, "f").find(" Apr 05  2024 f"), std::string::npos);

    // 23:30 UTC on the last day of 2024 is already 2025 here.
    makeFile("g", "x", {2025, 1, 1, 0, 10, 0, 0});
    m_now = localPoint({2024, 12, 31, 23, 30, 0, 0}) + std::chrono::hours(1);
    EXPECT_NE(list(m_root, "g").find(" Jan 01 00:10 g"), std::string::npos);
}

TEST_F(ListingTest, ADirectoryListsItsContents)
{
    makeFile("a.txt", "hello", kJune1);
    makeFile(".hidden", "h", kJune1);
    writeFile("root/sub/inner.txt", "in");
    touch(m_root + "sub/inner.txt", kJune1);
    touch(m_root + "sub", kJune1);
    touch(m_root, kJune1);
    touch(dir(), kJune1);

    const std::string rootListing =
        "drw-rw-rw-   1 ftp      ftp            0 Jun 01 10:00 .\r\n"
        "drw-rw-rw-   1 ftp      ftp            0 Jun 01 10:00 ..\r\n"
        "-rw-rw-rw-   1 ftp      ftp            5 Jun 01 10:00 a.txt\r\n"
        "drw-rw-rw-   1 ftp      ftp            0 Jun 01 10:00 sub\r\n";
    EXPECT_EQ(list(m_root, ""), rootListing);
    EXPECT_EQ(list(m_root, "."), rootListing);
    EXPECT_EQ(list(m_root + "sub/", ".."), rootListing);
    EXPECT_EQ(list("/", m_root), rootListing);
    // Hidden entries are left out of LIST but not out of NLST.
    EXPECT_EQ(list(m_root, "", false), ".\r\n..\r\n.hidden\r\na.txt\r\nsub\r\n");

    const std::string subListing =
        "drw-rw-rw-   1 ftp      ftp            0 Jun 01 10:00 .\r\n"
        "drw-rw-rw-   1 ftp      ftp            0 Jun 01 10:00 ..\r\n"
        "-rw-rw-rw-   1 ftp      ftp            2 Jun 01 10:00 inner.txt\r\n";
    EXPECT_EQ(list(m_root, "sub"), subListing);           // not just the line of "sub" itself
    EXPECT_EQ(list(m_root, "sub/"), subListing);
    EXPECT_EQ(list(m_root, "./sub/../sub"), subListing);
    EXPECT_EQ(list(m_root, "sub", false), ".\r\n..\r\ninner.txt\r\n");
    EXPECT_EQ(listingPattern(m_root, "sub"), m_root + "sub/*.*");
    EXPECT_EQ(patternDirectory(listingPattern(m_root, "sub")), m_root + "sub/");
}

TEST_F(ListingTest, PatternsListTheirMatchesAndMissingTargetsAreNotFound)
{
    makeFile("a.txt", "hello", kJune1);
    makeFile("b.txt", "hi", kJune1);
    makeFile("c.log", "log", kJune1);

    EXPECT_EQ(list(m_root, "*.txt"),
              "-rw-rw-rw-   1 ftp      ftp            5 Jun 01 10:00 a.txt\r\n"
              "-rw-rw-rw-   1 ftp      ftp            2 Jun 01 10:00 b.txt\r\n");
    EXPECT_EQ(list(m_root, "?.log", false), "c.log\r\n");

    EXPECT_EQ(list(m_root, "missing"), m_root + "missing not found\r\n");
    EXPECT_EQ(list(m_root, "missing", false), m_root + "missing not found\r\n");
    EXPECT_EQ(list(m_root, "*.zip"), m_root + "*.zip not found\r\n");
    // Options are not recognised: "-la" is a name.
    EXPECT_EQ(list(m_root, "-la"), m_root + "-la not found\r\n");
    EXPECT_EQ(list(m_root, "nodir/x"), m_root + "nodir/x not found\r\n");
}

TEST_F(ListingTest, SizesBeyondFourGigabytesListWhole)
{
    writeFile("root/big.iso", "");
    const std::int64_t fiveGiB = 5LL * 1024 * 1024 * 1024;
    fs::resize_file(m_root + "big.iso", static_cast<std::uintmax_t>(fiveGiB));   // sparse
    touch(m_root + "big.iso", kJune1);

    EXPECT_EQ(list(m_root, "big.iso"), "-rw-rw-rw-   1 ftp      ftp   5368709120 Jun 01 10:00 big.iso\r\n");
    EXPECT_EQ(fileSize(m_root + "big.iso"), fiveGiB);

    platform::DirEntry huge;
    huge.size = 123456789012345;
    huge.modified = localPoint(kJune1);
    EXPECT_EQ(detailedLine(huge, "huge", false, 2024),
              "-rw-rw-rw-   1 ftp      ftp  123456789012345 Jun 01 10:00 huge\r\n");
}

TEST_F(ListingTest, PermanentLinksShowEverywhereButInTheirOwnDirectory)
{
    makeFile("a.txt", "hello", kJune1);
    writeFile("root/pub/p.txt", "p");
    m_links.rebuild({{m_root + "pub/", "Public"}, {m_root + "pub", "NoSlash"}});
    m_virtualDirs.rebuild({{m_root + "pub/", "/pub/"}});
    const std::string publicLine = "lrw-rw-rw-   1 ftp      ftp          289 Apr 21 08:32 Public -> /pub/\r\n";
    const std::string noSlashLine = "lrw-rw-rw-   1 ftp      ftp          289 Apr 21 08:32 NoSlash -> " + m_root +
                                    "pub\r\n";

    const std::string rootListing = list(m_root, "");
    EXPECT_TRUE(rootListing.ends_with(publicLine + noSlashLine)) << rootListing;
    EXPECT_TRUE(list(m_root, "", false).ends_with(publicLine + noSlashLine));
    // A pattern that matches nothing still shows the links, and no " not found".
    EXPECT_EQ(list(m_root, "missing"), publicLine + noSlashLine);

    for (const std::string& ownDir : {list(m_root + "pub/", ""), list(m_root, "pub"), list(m_root, "PUB/")}) {
        EXPECT_EQ(ownDir.find("Public"), std::string::npos) << ownDir;
        EXPECT_EQ(ownDir.find("NoSlash"), std::string::npos) << ownDir;
    }
    EXPECT_NE(list(m_root, "pub").find(" p.txt\r\n"), std::string::npos);
}

TEST_F(ListingTest, ShortcutsAreShownAsLinksToTheirTarget)
{
    const std::string header = std::string(101, 'L') + "C:\\"s;
    makeFile("doc.lnk", header + "\0docs\\a.txt\0\0"s, kJune1);
    makeFile("setup.LNK", header + "\0apps\\setup.exe\0\0"s, kJune1);
    fs::create_directory(m_root + "folder.lnk");
    touch(m_root + "folder.lnk", kJune1);

    EXPECT_EQ(list(m_root, "*.lnk"),
              "lrw-rw-rw-   1 ftp      ftp          117 Jun 01 10:00 doc -> C:\\docs\\a.txt\r\n"
              "drw-rw-rw-   1 ftp      ftp            0 Jun 01 10:00 folder.lnk\r\n");
    const std::string all = list(m_root, "");
    EXPECT_NE(all.find("lrwxrwxrwx   1 ftp      ftp          121 Jun 01 10:00 setup -> C:\\apps\\setup.exe\r\n"),
              std::string::npos)
        << all;
    EXPECT_NE(list(m_root, "", false).find("\r\ndoc.lnk\r\n"), std::string::npos);
}

TEST_F(ListingTest, MdtmIsTheModificationTimeInUtc)
{
    makeFile("noon.txt", "x", {2024, 3, 10, 12, 0, 0, 0});
    makeFile("ms.txt", "x", {2024, 3, 10, 12, 0, 0, 250});
    writeFile("root/sub/x", "x");
    touch(m_root + "sub", {1999, 12, 31, 23, 59, 59, 0});

    EXPECT_EQ(mdtmTimeText(m_root + "noon.txt"), "20240310110000.000");
    EXPECT_EQ(mdtmTimeText(m_root + "ms.txt"), "20240310110000.250");
    EXPECT_EQ(mdtmTimeText(m_root + "sub/"), "19991231225959.000");
    EXPECT_EQ(mdtmTimeText(m_root + "missing"), std::nullopt);

    // Each file's own offset counts, not the one in force now.
    ::setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
    makeFile("summer.txt", "x", {2024, 7, 1, 12, 0, 0, 0});
    makeFile("winter.txt", "x", {2024, 1, 1, 12, 0, 0, 0});
    EXPECT_EQ(mdtmTimeText(m_root + "summer.txt"), "20240701100000.000");
    EXPECT_EQ(mdtmTimeText(m_root + "winter.txt"), "20240101110000.000");
}

TEST_F(ListingTest, FileSizeFindsHiddenAndReadOnlyFiles)
{
    makeFile(".hidden", "abc", kJune1);
    makeFile("ro.txt", "abcd", kJune1);
    makeReadOnly(m_root + "ro.txt");

    EXPECT_EQ(fileSize(m_root + ".hidden"), 3);
    EXPECT_EQ(fileSize(m_root + "ro.txt"), 4);
    EXPECT_EQ(fileSize(m_root + "missing"), -1);
    EXPECT_EQ(fileSize(m_root + "*.txt"), -1);     // an exact lookup, no wildcards
}

} // namespace
} // namespace vesk2::ftpserver
