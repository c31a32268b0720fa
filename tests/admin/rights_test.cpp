// The rights check and the validate handlers, driven through the events the
// policy attaches to a real server, with real directories in the sandbox.

#include "admin/access_rights.h"
#include "ftpserver/listing.h"
#include "policy_fixture.h"

#include <gtest/gtest.h>

#include <sstream>

namespace vesk2::admin {
namespace {

using testing::PolicyFixture;

TEST(RightsPathTest, TestedDirectoryIsCollapsedAndEndsInSlash)
{
    struct Case {
        const char* path;
        bool fileEvent;
        const char* want;
    };
    const Case cases[] = {
        {"/data/f.txt", true, "/data/"},
        {"/data/sub/", true, "/data/"},        // the entry "sub" of /data/
        {"/data/sub", false, "/data/sub/"},
        {"/", true, "/"},
        {"/", false, "/"},
        {"\\data\\f", true, "/data/"},
        {"/data/./a/../f", true, "/data/"},
        {"/data/../../etc/passwd", true, "/etc/"},
        {"/Data/F", true, "/Data/"},           // letter case stays
    };
    for (const Case& c : cases)
        EXPECT_EQ(testedDirectory(c.path, c.fileEvent), c.want) << c.path;
}

TEST(RightsPathTest, EncryptionKeyNameMustBeTheWholeLastComponent)
{
    struct Case {
        const char* path;
        bool want;
    };
    const Case cases[] = {
        {"/home/bob/*encryption.key*", true}, {"/*encryption.key*", true},
        {"/home/x*encryption.key*", false},   {"/home/*encryption.key*.txt", false},
        {"/home/*encryption.key*/x", false},  {"*encryption.key*/../secret", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(namesEncryptionKey(c.path), c.want) << c.path;
}

TEST(AccessGrantsTest, EntriesAddUpInheritableReachesBelowAndCaseMatters)
{
    auto make = [](const char* path, std::initializer_list<Right> rights) {
        AccessEntry e;
        e.Path.assign(path);
        for (Right r : rights)
            e.setRight(r, true);
        return e;
    };
    EffectiveAccessList list{};
    list[0] = make("/data", {Right::Read});
    list[5] = make("/pub/", {Right::Read, Right::Inheritable});
    list[6] = make("/pub/in", {Right::Write});
    list[127] = make("\\mk\\New", {Right::Create, Right::Write});
    list[9] = make("/up/./x/..", {Right::Create, Right::Write, Right::Inheritable});

    const RightSet read = rightBit(Right::Read);
    const RightSet write = rightBit(Right::Write);
    const RightSet mkd = rightBit(Right::Create) | rightBit(Right::Write);
    struct Case {
        const char* dir;
        RightSet required;
        bool want;
    };
    const Case cases[] = {
        {"/data/", read, true},
        {"/data/sub/", read, false},     // not inheritable
        {"/DATA/", read, false},         // case-sensitive
        {"/datax/", read, false},
        {"/data/", write, false},
        {"/pub/", read, true},
        {"/pub/a/b/", read, true},
        {"/pubx/", read, false},         // "/pub/" is no prefix of "/pubx/"
        {"/pub/in/", write, true},
        {"/pub/in/", read | write, false}, // one entry must hold all required rights
        {"/mk/New/", mkd, true},
        {"/mk/", mkd, false},
        {"/up/any/depth/", mkd, true},   // entry paths are collapsed too
        {"/", read, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(accessGrants(list, c.dir, c.required), c.want) << c.dir << " " << c.required;
}

class RightsTest : public PolicyFixture {
protected:
    void SetUp() override
    {
        PolicyFixture::SetUp();
        for (const char* d : {"data/sub", "pub/a/b", "up", "del", "mk"})
            makeDir(d);
        UserRecord u = user("bob", "pw");
        u.HomeDirectory.assign(path("data"));
        u.Access[0] = entry(path("data"), {Right::Read, Right::List});
        u.Access[1] = entry(path("pub"), {Right::Read, Right::List, Right::Inheritable});
        u.Access[2] = entry(path("up"), {Right::Write, Right::Create, Right::Inheritable});
        u.Groups[0].assign("editors");
        addUser(u);
        GroupRecord g = group("editors");
        g.Access[0] = entry(path("del"), {Right::Delete, Right::Rename});
        g.Access[1] = entry(path("mk/New"), {Right::Create, Right::Write});
        addGroup(g);
        UserRecord root = user("root", "pw");
        root.SuperUser = true;
        addUser(root);
        addUser(user("empty", "pw"));
    }

    // Raises the event named `event` as the command handlers do.
    bool raise(ftpserver::TFtpCtrlSocket& session, const std::string& event, std::string& p)
    {
        bool allowed = true;
        ftpserver::TFtpServer& s = *server;
        if (event == "GET")
            s.OnValidateGet(s, session, p, allowed);
        else if (event == "PUT")
            s.OnValidatePut(s, session, p, allowed);
        else if (event == "DELE")
            s.OnValidateDele(s, session, p, allowed);
        else if (event == "RMD")
            s.OnValidateRmd(s, session, p, allowed);
        else if (event == "RNFR")
            s.OnValidateRnFr(s, session, p, allowed);
        else if (event == "RNTO")
            s.OnValidateRnTo(s, session, p, allowed);
        else if (event == "CWD")
            s.OnChangeDirectory(s, session, p, allowed);
        else if (event == "MKD")
            s.OnMakeDirectory(s, session, p, allowed);
        else
            ADD_FAILURE() << "no event " << event;
        return allowed;
    }
    bool raise(ftpserver::TFtpCtrlSocket& session, const std::string& event, const char* relative)
    {
        std::string p = path(relative);
        return raise(session, event, p);
    }
};

TEST_F(RightsTest, EachOperationNeedsItsRight)
{
    ftpserver::TFtpCtrlSocket& bob = connect();
    ASSERT_TRUE(login(bob, "bob", "pw"));
    struct Case {
        const char* event;
        const char* path;
        bool want;
    };
    const Case cases[] = {
        {"GET", "data/f", true},       {"GET", "data/sub/f", false}, {"GET", "pub/a/b/f", true},
        {"GET", "up/f", false},        {"GET", "DATA/f", false},     {"PUT", "up/new", true},
        {"PUT", "up/deep/er/new", true}, {"PUT", "data/f", false},   {"DELE", "del/f", true},
        {"DELE", "data/f", false},     {"RMD", "del/sub", true},     {"RMD", "pub/a", false},
        {"RNFR", "del/f", true},       {"RNTO", "del/g", true},      {"RNFR", "pub/f", false},
        {"RNTO", "up/f", false},       {"CWD", "data/", true},       {"CWD", "data/sub/", false},
        {"CWD", "pub/a/b/", true},     {"CWD", "pub/missing/", false}, {"CWD", "up/", false},
        {"MKD", "mk/New", true},       {"MKD", "up/x", true},        {"MKD", "mk/Other", false},
        {"MKD", "data/x", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(raise(bob, c.event, c.path), c.want) << c.event << " " << c.path;

    ftpserver::TFtpCtrlSocket& empty = connect();
    ASSERT_TRUE(login(empty, "empty", "pw"));
    for (const Case& c : cases)
        EXPECT_FALSE(raise(empty, c.event, c.path)) << "no entries: " << c.event << " " << c.path;

    ftpserver::TFtpCtrlSocket& stranger = connect(); // never logged in
    for (const Case& c : cases)
        EXPECT_FALSE(raise(stranger, c.event, c.path)) << "no login: " << c.event << " " << c.path;
}

TEST_F(RightsTest, DotSegmentsAreCollapsedBeforeTheCheckAndTheOperationUsesTheResult)
{
    ftpserver::TFtpCtrlSocket& bob = connect();
    ASSERT_TRUE(login(bob, "bob", "pw"));
    struct Case {
        const char* event;
        const char* path;
        bool want;
        const char* rewritten;
    };
    const Case cases[] = {
        {"GET", "up/../data/f", true, "data/f"},
        {"GET", "data/../up/f", false, "up/f"},
        {"PUT", "up/../data/f", false, "data/f"},
        {"PUT", "up/./x/../y", true, "up/y"},
        {"DELE", "del/../data/f", false, "data/f"},
        {"GET", "data//f", true, "data/f"},
    };
    for (const Case& c : cases) {
        std::string p = path(c.path);
        EXPECT_EQ(raise(bob, c.event, p), c.want) << c.event << " " << c.path;
        EXPECT_EQ(p, path(c.rewritten)) << c.event << " " << c.path;
    }
    // Directory events cannot be rewritten: a path that is not collapsed is refused.
    EXPECT_TRUE(raise(bob, "CWD", "pub/a/"));
    EXPECT_FALSE(raise(bob, "CWD", "pub/a/../a/"));
    EXPECT_FALSE(raise(bob, "MKD", "up/./x"));
    std::string escape = dir() + "up/../../../etc";
    EXPECT_FALSE(raise(bob, "MKD", escape));
}

TEST_F(RightsTest, TheMonitorRowShowsEachDecision)
{
    ftpserver::TFtpCtrlSocket& bob = connect();
    ASSERT_TRUE(login(bob, "bob", "pw"));
    EXPECT_FALSE(raise(bob, "GET", "up/secret"));
    ASSERT_EQ(monitor->rows().size(), 1u);
    EXPECT_EQ(monitor->rows()[0].Action, "GET");
    EXPECT_EQ(monitor->rows()[0].FileLocation, path("up/secret"));
    EXPECT_EQ(monitor->rows()[0].Progress, "Denied");

    EXPECT_TRUE(raise(bob, "MKD", "mk/New"));
    EXPECT_EQ(monitor->rows()[0].Action, "MKD");
    EXPECT_EQ(monitor->rows()[0].Progress, "Success");
    EXPECT_TRUE(raise(bob, "PUT", "up/f"));
    EXPECT_EQ(monitor->rows()[0].Action, "APPE");

    // A directory change to nowhere is refused without a monitor update.
    EXPECT_FALSE(raise(bob, "CWD", "pub/nowhere/"));
    EXPECT_EQ(monitor->rows()[0].Action, "APPE");
}

TEST_F(RightsTest, SuperUserMayDoAllButEnterMissingDirectories)
{
    ftpserver::TFtpCtrlSocket& root = connect();
    ASSERT_TRUE(login(root, "root", "pw"));
    for (const char* event : {"GET", "PUT", "DELE", "RMD", "RNFR", "RNTO", "MKD"})
        EXPECT_TRUE(raise(root, event, "anywhere/x")) << event;
    EXPECT_TRUE(raise(root, "CWD", "data/sub/"));
    EXPECT_FALSE(raise(root, "CWD", "nowhere/"));

    const std::string before = monitor->rows().at(0).Action;
    EXPECT_TRUE(raise(root, "PUT", "anywhere/y"));
    EXPECT_EQ(monitor->rows().at(0).Action, before) << "a superuser's upload is not shown";
}

TEST_F(RightsTest, EncryptedOnlyRefusesAndClosesUnencryptedSessions)
{
    settings.EncryptedOnlyClients = true;
    const std::string refusal = kEncryptedOnlyRefusal;
    struct Case {
        const char* event;
        const char* path;
        std::string line;
    };
    const Case cases[] = {
        {"GET", "data/f", "220 " + refusal},  {"RNFR", "del/f", "220 " + refusal},
        {"RNTO", "del/g", "220 " + refusal},  {"CWD", "data/", "220 " + refusal},
        {"MKD", "mk/New", "220 " + refusal},  {"DELE", "del/f", refusal},
        {"PUT", "up/f", refusal},
    };
    for (const Case& c : cases) {
        ftpserver::TFtpCtrlSocket& bob = connect();
        test::LineClient& client = lastClient();
        ASSERT_TRUE(login(bob, "bob", "pw"));
        EXPECT_FALSE(raise(bob, c.event, c.path)) << c.event;
        ASSERT_TRUE(client.waitLines(2)) << c.event;
        EXPECT_EQ(client.lines[1], c.line) << c.event;
        EXPECT_TRUE(client.waitClosed()) << c.event;
    }

    // Exceptions: a superuser's upload, the key-check challenge, an enciphered session.
    ftpserver::TFtpCtrlSocket& root = connect();
    test::LineClient& rootClient = lastClient();
    ASSERT_TRUE(login(root, "root", "pw"));
    EXPECT_TRUE(raise(root, "PUT", "up/f"));
    ftpserver::TFtpCtrlSocket& bob = connect();
    test::LineClient& bobClient = lastClient();
    ASSERT_TRUE(login(bob, "bob", "pw"));
    EXPECT_TRUE(raise(bob, "GET", "up/*encryption.key*"));
    bob.EncryptionActive = true;
    EXPECT_TRUE(raise(bob, "GET", "data/f"));
    EXPECT_FALSE(raise(bob, "GET", "up/f"));
    test::runFor(loop, 50);
    EXPECT_FALSE(rootClient.closed);
    EXPECT_FALSE(bobClient.closed);
    EXPECT_EQ(bobClient.lines.size(), 1u) << "nothing but the greeting";
}

TEST_F(RightsTest, OnlyTheExactKeyCheckNameIsExemptFromRights)
{
    ftpserver::TFtpCtrlSocket& empty = connect();
    ASSERT_TRUE(login(empty, "empty", "pw"));
    EXPECT_TRUE(raise(empty, "GET", "data/*encryption.key*"));
    EXPECT_FALSE(raise(empty, "GET", "data/secret*encryption.key*"));
    EXPECT_FALSE(raise(empty, "GET", "data/*encryption.key*.bak"));
    EXPECT_FALSE(raise(empty, "PUT", "data/*encryption.key*"));
    settings.EncryptedOnlyClients = true;
    test::LineClient& client = lastClient();
    EXPECT_FALSE(raise(empty, "GET", "data/x*encryption.key*"));
    EXPECT_TRUE(client.waitClosed());
}

// Listings need the List right on the directory they show (raised through
// OnValidateList where the server has it, else checked in OnBuildDirectory).
template <class Server>
bool listAllowed(Server& s, ftpserver::TFtpCtrlSocket& session, const std::string& argument)
{
    if constexpr (requires { s.OnValidateList; }) {
        std::string listed = ftpserver::patternDirectory(ftpserver::listingPattern(session.WorkDir, argument));
        bool allowed = true;
        s.OnValidateList(s, session, listed, allowed);
        return allowed;
    } else {
        std::string directory = argument;
        session.freeStream();
        s.OnBuildDirectory(s, session, directory, true);
        if (!session.XferStream)
            return true;
        // A refused listing is replaced by an empty one.
        std::ostringstream text;
        text << session.XferStream->rdbuf();
        EXPECT_EQ(text.str(), "");
        return false;
    }
}

TEST_F(RightsTest, ListingNeedsTheListRightOnTheListedDirectory)
{
    ftpserver::TFtpCtrlSocket& bob = connect();
    ASSERT_TRUE(login(bob, "bob", "pw"));
    struct Case {
        const char* workDir;
        const char* argument;
        bool want;
    };
    const Case cases[] = {
        {"data/", "", true},        {"data/", "*.txt", true},   {"data/", "sub", false},
        {"up/", "", false},         {"up/", "../data", true},   {"up/", "../data/*.c", true},
        {"data/", "../up", false},  {"pub/", "a/b", true},      {"data/", "/etc", false},
    };
    for (const Case& c : cases) {
        bob.WorkDir = path(c.workDir);
        EXPECT_EQ(listAllowed(*server, bob, c.argument), c.want) << c.workDir << " " << c.argument;
    }
    EXPECT_EQ(monitor->rows().at(0).Action, "LIST");
    bob.freeStream();
}

TEST_F(RightsTest, EncryptedOnlyGivesAnUnencryptedSessionNoListing)
{
    settings.EncryptedOnlyClients = true;
    ftpserver::TFtpCtrlSocket& bob = connect();
    test::LineClient& client = lastClient();
    ASSERT_TRUE(login(bob, "bob", "pw"));
    bob.WorkDir = path("data/");
    writeFile("data/visible.txt", "x");
    std::string argument;
    server->OnBuildDirectory(*server, bob, argument, true);
    ASSERT_NE(bob.XferStream, nullptr);
    std::ostringstream text;
    text << bob.XferStream->rdbuf();
    EXPECT_EQ(text.str(), "");
    ASSERT_TRUE(client.waitLines(2));
    EXPECT_EQ(client.lines[1], std::string("220 ") + kEncryptedOnlyRefusal);
    EXPECT_TRUE(client.waitClosed());
}

TEST_F(RightsTest, WithoutItsPolicyTheServerRefusesInsteadOfAllowing)
{
    ftpserver::TFtpCtrlSocket& bob = connect();
    ASSERT_TRUE(login(bob, "bob", "pw"));
    admin.reset();
    EXPECT_FALSE(login(bob, "bob", "pw"));
    for (const char* event : {"GET", "PUT", "DELE", "RMD", "RNFR", "RNTO", "CWD", "MKD"})
        EXPECT_FALSE(raise(bob, event, "data/")) << event;
    EXPECT_FALSE(server->OnClientCommand) << "monitor events are cleared";
}

} // namespace
} // namespace vesk2::admin
