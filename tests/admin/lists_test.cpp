// The three server list files: reading, writing, the entry limit, damaged
// files, and keeping edits made on disk by another process.

#include "admin/server_lists.h"
#include "support/sandbox.h"

#include <filesystem>
#include <string>
#include <vector>

namespace vesk2::admin {
namespace {

using ftpserver::PermanentLinkEntry;
using ftpserver::VirtualDirEntry;

std::vector<std::string> pairsOf(const VirtualDirList& list)
{
    std::vector<std::string> out;
    for (const VirtualDirEntry& e : list.entries())
        out.push_back(e.DirectoryPath + "=" + e.VirtualMap);
    return out;
}

std::string numbered(int count, int from = 0)
{
    std::string bytes;
    for (int i = from; i < from + count; ++i)
        bytes += "10.0." + std::to_string(i) + ".\r\n";
    return bytes;
}

class ListsTest : public test::Sandbox {
protected:
    std::string fileOf(const std::string& name) const { return readFile(name); }
    bool exists(const std::string& name) const { return std::filesystem::exists(path(name)); }
};

TEST_F(ListsTest, IpFileIsReadAsFarAsItIsSound)
{
    struct Case {
        const char* name;
        std::string bytes;
        std::vector<std::string> want;
        bool damaged;
    };
    const Case cases[] = {
        {"crlf, empty line dropped", "10.1.\r\n\r\n192.168.*\r\n", {"10.1.", "192.168.*"}, false},
        {"bare line feeds", "10.1.\n192.168.0.1\n", {"10.1.", "192.168.0.1"}, false},
        {"blank and tab kept as text", " 10.1.\t\r\n", {" 10.1.\t"}, false},
        {"last line without line end", "10.1.\r\n192.16", {"10.1."}, true},
        {"NUL inside a line", std::string("10.1.\r\n1") + '\0' + "2\r\n3.4.\r\n", {"10.1."}, true},
        {"escape sequence", "10.1.\r\na\x1b[2J\r\nb\r\n", {"10.1."}, true},
        {"lone CR inside a line", "10.1.\r\n10.\r2.\r\n", {"10.1."}, true},
        {"line too long", "10.1.\r\n" + std::string(kMaxListLineLength + 1, '1') + "\r\n3.\r\n", {"10.1."}, true},
    };
    for (const Case& c : cases) {
        writeFile(kIpListFile, c.bytes);
        IpList list(dir(), kIpListFile);
        const ListRead& read = list.load();
        EXPECT_EQ(list.entries(), c.want) << c.name;
        EXPECT_EQ(read.damaged(), c.damaged) << c.name << ": " << read.problem;
        EXPECT_FALSE(list.changed()) << c.name;
    }
}

TEST_F(ListsTest, PairFilesAreReadTwoLinesAtATime)
{
    struct Case {
        const char* name;
        const char* bytes;
        std::vector<std::string> want;
        bool damaged;
    };
    const Case cases[] = {
        {"pair with empty first line dropped", "/srv/pub/\r\n/pub/\r\n\r\n/orphan/\r\n/x/\r\n/y/\r\n",
         {"/srv/pub/=/pub/", "/x/=/y/"}, false},
        {"blank line at the end", "/a/\r\n/b/\r\n\r\n", {"/a/=/b/"}, false},
        {"second line missing", "/srv/pub/\r\n/pub/\r\n/srv/half/\r\n", {"/srv/pub/=/pub/"}, true},
        {"second line cut short", "/srv/pub/\r\n/pub/\r\n/srv/half/\r\n/ha", {"/srv/pub/=/pub/"}, true},
        {"empty name", "/a/\r\n\r\n/b/\r\n/c/\r\n", {}, true},
    };
    for (const Case& c : cases) {
        writeFile(kVirtualDirFile, c.bytes);
        VirtualDirList list(dir(), kVirtualDirFile);
        EXPECT_EQ(pairsOf(list), std::vector<std::string>{}) << "not loaded yet";
        const ListRead& read = list.load();
        EXPECT_EQ(pairsOf(list), c.want) << c.name;
        EXPECT_EQ(read.damaged(), c.damaged) << c.name << ": " << read.problem;
    }
}

TEST_F(ListsTest, SaveWritesTheLayoutAndRecreatesEveryFile)
{
    ServerLists lists(dir());
    EXPECT_TRUE(lists.load().empty()) << "missing files are no problem";
    EXPECT_TRUE(lists.ipList().empty());

    ASSERT_EQ(lists.ipList().add("192.168.0.*"), AddResult::Added);
    ASSERT_EQ(lists.ipList().add("10.1."), AddResult::Added);
    ASSERT_EQ(lists.virtualDirs().add(VirtualDirEntry{"/srv/files/", "/pub/"}), AddResult::Added);
    EXPECT_TRUE(lists.save().empty());

    EXPECT_EQ(fileOf(kIpListFile), "192.168.0.*\r\n10.1.\r\n");
    EXPECT_EQ(fileOf(kVirtualDirFile), "/srv/files/\r\n/pub/\r\n");
    EXPECT_TRUE(exists(kPermanentLinkFile)) << "an empty list still gets its file";
    EXPECT_EQ(fileOf(kPermanentLinkFile), "");

    ServerLists again(dir());
    again.load();
    EXPECT_EQ(again.ipList().entries(), (std::vector<std::string>{"192.168.0.*", "10.1."}));
    EXPECT_EQ(pairsOf(again.virtualDirs()), std::vector<std::string>{"/srv/files/=/pub/"});

    again.permanentLinks().add(PermanentLinkEntry{"/srv/docs", "docs"});
    again.ipList().remove({0, 7});
    EXPECT_TRUE(again.save().empty());
    EXPECT_EQ(fileOf(kPermanentLinkFile), "/srv/docs\r\ndocs\r\n");
    EXPECT_EQ(fileOf(kIpListFile), "10.1.\r\n");
}

TEST_F(ListsTest, EntriesThatALineCannotHoldAreRefused)
{
    IpList ips(dir(), kIpListFile);
    PermanentLinkList links(dir(), kPermanentLinkFile);
    EXPECT_EQ(ips.add(""), AddResult::NotStorable);
    EXPECT_EQ(ips.add("10.1.\r\n10.2."), AddResult::NotStorable);
    EXPECT_EQ(ips.add(std::string("10.\0", 4)), AddResult::NotStorable);
    EXPECT_EQ(links.add(PermanentLinkEntry{"/srv/a\nb", "x"}), AddResult::NotStorable);
    EXPECT_EQ(links.add(PermanentLinkEntry{"/srv/a", ""}), AddResult::NotStorable);
    EXPECT_EQ(links.add(PermanentLinkEntry{"/srv/tab\there", "x"}), AddResult::Added);
    EXPECT_TRUE(ips.empty());
    EXPECT_EQ(links.size(), 1u);
}

TEST_F(ListsTest, AtMost128EntriesAreInForceAndTheRestIsKept)
{
    IpList list(dir(), kIpListFile);
    for (std::size_t i = 0; i < kMaxListEntries; ++i)
        ASSERT_EQ(list.add("10.0." + std::to_string(i) + "."), AddResult::Added);
    EXPECT_TRUE(list.full());
    EXPECT_EQ(list.add("10.9."), AddResult::ListFull);
    EXPECT_EQ(list.size(), kMaxListEntries);

    // A file with more (edited by hand) loses nothing, but only 128 count.
    const std::string bytes = numbered(130);
    writeFile(kIpListFile, bytes);
    const ListRead& read = list.load();
    EXPECT_EQ(read.excess, 2u);
    EXPECT_FALSE(read.damaged());
    EXPECT_NE(describeRead(list.path(), read).find("2 entries beyond 128"), std::string::npos);
    EXPECT_EQ(list.size(), 130u);
    EXPECT_EQ(list.inForce().size(), kMaxListEntries);
    EXPECT_EQ(list.inForce().back(), "10.0.127.");
    EXPECT_EQ(list.add("10.9."), AddResult::ListFull);
    list.remove({0});
    EXPECT_TRUE(list.save().empty());
    EXPECT_EQ(fileOf(kIpListFile), numbered(129, 1));
}

TEST_F(ListsTest, RebuildFillsTheRuntimeTablesInListOrder)
{
    ServerLists lists(dir());
    lists.virtualDirs().add(VirtualDirEntry{"/srv/a/", "/a/"});
    lists.virtualDirs().add(VirtualDirEntry{"/srv/b/", "/b/"});
    lists.permanentLinks().add(PermanentLinkEntry{"/srv/docs", "docs"});
    ftpserver::VirtualDirTable dirs;
    ftpserver::PermanentLinkTable links;
    links[5] = PermanentLinkEntry{"/stale", "stale"};
    rebuildTables(lists, dirs, links);
    EXPECT_EQ(dirs[0].VirtualMap, "/a/");
    EXPECT_EQ(dirs[1].DirectoryPath, "/srv/b/");
    EXPECT_TRUE(dirs[2].isFree());
    EXPECT_EQ(links[0].LinkName, "docs");
    EXPECT_TRUE(links[5].isFree()) << "what the list no longer holds leaves the table";
}

TEST_F(ListsTest, ADamagedFileIsNotRewrittenUntilTheListChanges)
{
    const std::string bytes = "10.1.\r\n10.2.\r\n\x01garbage\r\n10.3.\r\n";
    writeFile(kIpListFile, bytes);
    IpList list(dir(), kIpListFile);
    const ListRead& read = list.load();
    ASSERT_TRUE(read.damaged());
    EXPECT_NE(describeRead(list.path(), read).find("line 3"), std::string::npos);
    EXPECT_EQ(list.entries(), (std::vector<std::string>{"10.1.", "10.2."}));

    EXPECT_EQ(list.reloadIfChanged(), ReloadOutcome::Unchanged);
    EXPECT_TRUE(list.save().empty());
    EXPECT_EQ(fileOf(kIpListFile), bytes) << "reading and an unchanged save leave the file alone";
    EXPECT_FALSE(exists(std::string(kIpListFile) + ".damaged"));

    list.add("10.4.");
    EXPECT_TRUE(list.save().empty());
    EXPECT_EQ(fileOf(kIpListFile), "10.1.\r\n10.2.\r\n10.4.\r\n");
    EXPECT_EQ(fileOf(std::string(kIpListFile) + ".damaged"), bytes) << "the unread part is kept aside";
}

TEST_F(ListsTest, AFileThatCannotBeReadIsNeverOverwritten)
{
    std::filesystem::create_directory(path(kVirtualDirFile));
    VirtualDirList list(dir(), kVirtualDirFile);
    const ListRead& read = list.load();
    EXPECT_EQ(read.status, ListRead::Status::Unreadable);
    EXPECT_FALSE(describeRead(list.path(), read).empty());
    EXPECT_TRUE(list.empty());
    list.add(VirtualDirEntry{"/srv/a/", "/a/"});
    EXPECT_FALSE(list.save().empty());
    EXPECT_TRUE(std::filesystem::is_directory(path(kVirtualDirFile)));
}

// A server started with the lists loaded; meanwhile another process edits the
// same files. Nothing either side did may be lost.
TEST_F(ListsTest, EditsMadeOnDiskSurviveTheServersSave)
{
    writeFile(kIpListFile, "10.1.\r\n10.2.\r\n");
    IpList server(dir(), kIpListFile);
    server.load();

    // Untouched in memory: the file as edited wins, and is not rewritten.
    writeFile(kIpListFile, "10.1.\r\n10.2.\r\n10.3.\r\n");
    EXPECT_TRUE(server.save().empty());
    EXPECT_EQ(fileOf(kIpListFile), "10.1.\r\n10.2.\r\n10.3.\r\n");
    EXPECT_EQ(server.entries(), (std::vector<std::string>{"10.1.", "10.2.", "10.3."}));
    EXPECT_EQ(server.reloadIfChanged(), ReloadOutcome::Unchanged);

    // Both sides edited: the memory edits are replayed onto the file's version.
    server.remove({1});   // 10.2. removed here
    server.add("10.8.");  // and 10.8. added
    writeFile(kIpListFile, "10.0.\r\n10.1.\r\n10.2.\r\n10.3.\r\n10.5.\r\n");
    EXPECT_EQ(server.reloadIfChanged(), ReloadOutcome::Merged);
    EXPECT_EQ(server.entries(), (std::vector<std::string>{"10.0.", "10.1.", "10.3.", "10.5.", "10.8."}));
    EXPECT_TRUE(server.save().empty());
    EXPECT_EQ(fileOf(kIpListFile), "10.0.\r\n10.1.\r\n10.3.\r\n10.5.\r\n10.8.\r\n");

    // A clear here does not wipe what was added there.
    server.clear();
    writeFile(kIpListFile, "10.0.\r\n10.1.\r\n10.3.\r\n10.5.\r\n10.8.\r\n10.9.\r\n");
    EXPECT_TRUE(server.save().empty());
    EXPECT_EQ(fileOf(kIpListFile), "10.9.\r\n");
}

TEST_F(ListsTest, ReloadTakesAFileEditedOnDiskForPairsToo)
{
    ServerLists lists(dir());
    lists.load();
    EXPECT_FALSE(lists.reloadIfChanged());
    writeFile(kPermanentLinkFile, "/srv/docs\r\ndocs\r\n");
    EXPECT_TRUE(lists.reloadIfChanged());
    ASSERT_EQ(lists.permanentLinks().size(), 1u);
    EXPECT_EQ(lists.permanentLinks().entries()[0].LinkName, "docs");
    EXPECT_FALSE(lists.permanentLinks().changed());
    EXPECT_FALSE(lists.reloadIfChanged());

    // The other process removed the file: that is its edit too.
    std::filesystem::remove(path(kPermanentLinkFile));
    EXPECT_TRUE(lists.reloadIfChanged());
    EXPECT_TRUE(lists.permanentLinks().empty());
}

} // namespace
} // namespace vesk2::admin
