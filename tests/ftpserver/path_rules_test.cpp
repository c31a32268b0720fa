#include "ftpserver/path_rules.h"

#include <gtest/gtest.h>

namespace vesk2::ftpserver {
namespace {

struct Case {
    const char* dir;
    const char* in;
    const char* want;
};

TEST(BuildFilePath, ResolvesAndCollapsesEveryArgument)
{
    const Case cases[] = {
        {"/data/", "a/b.txt", "/data/a/b.txt"},
        {"/data/", "a\\b.txt", "/data/a/b.txt"},          // a client's "\" is "/"
        {"/data/", "/x.txt", "/x.txt"},
        {"/data/", "\\x.txt", "/x.txt"},
        {"/data/", "", "/data/"},
        {"/data/", ".", "/data/"},
        {"/data/", "..", "/"},
        {"/data/", "./x", "/data/x"},
        {"/data/", "sub/", "/data/sub/"},
        {"/data/", "a//b", "/data/a/b"},
        {"/data/", "sub/..", "/data/"},
        {"/data/", "...", "/data/..."},                   // an ordinary name
        {"/data/", "C:\\x", "/data/C:/x"},                // no drive letters
        // Traversal collapses inside the tree, never above "/".
        {"/srv/ftp/pub/", "../../etc/passwd", "/srv/etc/passwd"},
        {"/data/", "../../../../etc/passwd", "/etc/passwd"},
        {"/data/", "/../../x", "/x"},
        {"/data/", "a/../../b/./c/..", "/b/"},
        {"/data/", "..\\..\\etc", "/etc"},
        {"/data", "x", "/data/x"},                        // a directory without its "/"
    };
    for (const Case& c : cases) {
        EXPECT_EQ(BuildFilePath(c.dir, c.in), c.want) << c.dir << " + " << c.in;
    }
}

TEST(ChangeWorkDir, FollowsTheDirectoryRules)
{
    const Case cases[] = {
        {"/data/", "..", "/"},
        {"/", "..", "/"},
        {"/data/sub/", "..", "/data/"},
        {"/data/", "sub", "/data/sub/"},
        {"/data/", "sub/", "/data/sub/"},
        {"/data/", "sub\\deeper", "/data/sub/deeper/"},
        {"/data/", "/pub", "/pub/"},
        {"/data/", "\\pub\\", "/pub/"},
        {"/data/", "/", "/"},
        {"/data/", "/data/", "/data/"},
        {"/data/", "", "/data/"},
        {"/data/", ".", "/data/"},
        {"/data/", "D:", "/data/D:/"},                    // no drives: just a name
        {"/data/", "a:b", "/data/a:b/"},
        {"/data/", "sub//x", "/data/sub/x/"},
        // A trailing "." or ".." has no "./" in it; the collapse resolves it.
        {"/data/", "a/b/..", "/data/a/"},
        {"/data/", "sub/..", "/data/"},
        {"/data/", "/..", "/"},
        {"/data/", "/a/..", "/"},
        {"/data/", "...", "/data/.../"},
        {"/data/a./b/", "..", "/data/a./"},               // parent of a name ending in "."
        {"/home/bob", "..", "/home/"},                    // a directory without its "/"
        {"/home/bob", "sub", "/home/bob/sub/"},
    };
    for (const Case& c : cases) {
        const ChangeDirResult got = ChangeWorkDir(c.dir, c.in);
        EXPECT_TRUE(got.ok()) << c.dir << " cd " << c.in << ": " << got.error;
        EXPECT_EQ(got.WorkDir, c.want) << c.dir << " cd " << c.in;
    }
}

TEST(ChangeWorkDir, RefusesDotNotation)
{
    const char* refused[] = {"../x", "..\\x", "./sub", "sub/./x", "sub/../..", "/a/../b", "/a/./", "../"};
    for (const char* in : refused) {
        const ChangeDirResult got = ChangeWorkDir("/data/", in);
        EXPECT_FALSE(got.ok()) << in;
        EXPECT_EQ(got.error, "Cannot accept relative path using dot notation") << in;
    }
}

VirtualDirTable sampleVirtualDirs()
{
    VirtualDirTable table;
    table.rebuild({{"/srv/files/", "/pub/"},
                   {"", "/skipped/"},                     // free entries are dropped
                   {"/srv/other/", "/pub/"},              // the first match wins
                   {"/srv/music/", "/media/music/"}});
    return table;
}

TEST(VirtualDirectories, MapBothWays)
{
    const VirtualDirTable table = sampleVirtualDirs();
    struct Way {
        const char* in;
        const char* toReal;
        const char* toVirtual;
    };
    const Way ways[] = {
        {"/pub/a/b.txt", "/srv/files/a/b.txt", "/pub/a/b.txt"},
        {"/PUB/x/", "/srv/files/x/", "/PUB/x/"},                   // case ignored one way only
        {"/media/music/", "/srv/music/", "/media/music/"},
        {"/pub", "/pub", "/pub"},                                  // no trailing "/": no match
        {"/srv/files/a/", "/srv/files/a/", "/pub/a/"},
        {"/SRV/files/a/", "/SRV/files/a/", "/SRV/files/a/"},
        {"/srv/music/x", "/srv/music/x", "/media/music/x"},
        {"/elsewhere/", "/elsewhere/", "/elsewhere/"},
    };
    for (const Way& w : ways) {
        EXPECT_EQ(MapVirtualToReal(table, w.in), w.toReal) << w.in;
        EXPECT_EQ(MapRealToVirtual(table, w.in), w.toVirtual) << w.in;
    }
    EXPECT_EQ(PwdDisplay(table, "/srv/files/docs/"), "/pub/docs/");
    EXPECT_EQ(PwdDisplay(VirtualDirTable{}, "/srv/files/docs/"), "/srv/files/docs/");
}

TEST(VirtualDirectories, OnlyAbsoluteArgumentsAreMappedAndAfterTheCollapse)
{
    const VirtualDirTable table = sampleVirtualDirs();
    EXPECT_EQ(ResolveClientPath(table, "/data/", "/pub/a.txt"), "/srv/files/a.txt");
    EXPECT_EQ(ResolveClientPath(table, "/data/", "\\pub\\a.txt"), "/srv/files/a.txt");
    // A relative argument already stands in a real directory.
    EXPECT_EQ(ResolveClientPath(table, "/", "pub/a.txt"), "/pub/a.txt");
    // ".." cannot climb out of the mapped directory into its real parent.
    EXPECT_EQ(ResolveClientPath(table, "/data/", "/pub/../../etc/passwd"), "/etc/passwd");
    EXPECT_EQ(ResolveClientPath(table, "/data/", "/pub/x/../../pub/y"), "/srv/files/y");
}

TEST(ServerTables, StartFreeAndHoldAtMost128Entries)
{
    PermanentLinkTable links;
    for (const PermanentLinkEntry& entry : links) {
        EXPECT_TRUE(entry.isFree());
    }
    std::vector<PermanentLinkEntry> many;
    for (int i = 0; i < 130; ++i) {
        many.push_back({"/d" + std::to_string(i) + "/", "link" + std::to_string(i)});
    }
    EXPECT_EQ(links.rebuild(many), 128u);
    EXPECT_EQ(links[0].LinkName, "link0");
    EXPECT_EQ(links[127].LinkName, "link127");

    EXPECT_EQ(links.rebuild({{"/only/", "one"}}), 1u);
    EXPECT_EQ(links[0].LinkName, "one");
    EXPECT_TRUE(links[1].isFree());
    links.clear();
    EXPECT_TRUE(links[0].isFree());
}

} // namespace
} // namespace vesk2::ftpserver
