// Logins against real account files: names, passwords, disabled accounts,
// slots, effective access lists, home directories, the login message and the
// pause before a refused login is answered.

#include "admin/authentication.h"
#include "policy_fixture.h"

#include <gtest/gtest.h>

#include <chrono>

namespace vesk2::admin {
namespace {

using testing::PolicyFixture;

class AuthTest : public PolicyFixture {};

TEST_F(AuthTest, NamesAndPasswordsMatchExactlyAndDisabledAccountsAreRefused)
{
    addUser(user("bob", "Secret1"));
    addUser(user(std::string(40, 'a'), "pw40"));
    addUser(user("anonymous", "stored-but-ignored"));
    UserRecord off = user("carol", "pw");
    off.Enabled = false;
    addUser(off);
    addUser(user("bob", "second-record-is-never-read"));

    struct Case {
        std::string name;
        std::string password;
        bool want;
    };
    const Case cases[] = {
        {"bob", "Secret1", true},
        {"bob", "secret1", false},          // password case matters
        {"Bob", "Secret1", false},          // name case matters
        {"bob", "Secret1 ", false},
        {"bob", "Secret", false},           // a prefix of the password
        {"bob", "second-record-is-never-read", false},
        {"nobody", "", false},
        {std::string(40, 'a'), "pw40", true},
        {std::string(40, 'a') + "x", "pw40", false}, // stored names hold 40 bytes: no cut-off match
        {"anonymous", "any@where", true},
        {"anonymous", "", true},
        {"ANONYMOUS", "x", false},          // the stored name must match as typed
        {"carol", "pw", false},             // disabled account
    };
    for (const Case& c : cases) {
        ftpserver::TFtpCtrlSocket& session = connect();
        EXPECT_EQ(login(session, c.name, c.password), c.want) << c.name << " / " << c.password;
        EXPECT_EQ(sessions.slotOf(session) != nullptr, c.want) << c.name;
    }
    EXPECT_TRUE(serverLogHas(kInvalidAuthentication));
    const settings::LogLine* refused = serverLogLine("carol");
    ASSERT_NE(refused, nullptr);
    EXPECT_NE(refused->text.find("disabled"), std::string::npos);
    EXPECT_EQ(refused->colour, settings::clRed);
}

TEST_F(AuthTest, MissingOrEmptyUserFileRefusesEveryLogin)
{
    ftpserver::TFtpCtrlSocket& session = connect();
    EXPECT_FALSE(login(session, "SampleUser", "PlainOrdinaryWords"));
    EXPECT_FALSE(serverLogHas(kInvalidAuthentication)) << "a missing file refuses without a log line";

    writeFile("vesk2users.tmp", "");
    EXPECT_FALSE(login(session, "", ""));
    EXPECT_TRUE(serverLogHas(kInvalidAuthentication));
    EXPECT_EQ(sessions.inUseCount(), 0);
}

TEST_F(AuthTest, LoginFillsTheSlotTheSessionAndTheMonitorRow)
{
    makeDir("home/bob");
    UserRecord u = user("bob", "pw");
    u.EncryptionKey.assign("bob's key text");
    u.HomeDirectory.assign(path("home/bob"));
    u.SuperUser = true;
    addUser(u);
    settings.ShowSuperUserWarnings = true;

    ftpserver::TFtpCtrlSocket& session = connect();
    ASSERT_TRUE(login(session, "bob", "pw"));
    const SessionSlot* slot = sessions.slotOf(session);
    ASSERT_NE(slot, nullptr);
    EXPECT_GE(session.SessionSlot, 1);
    EXPECT_LE(session.SessionSlot, kSessionSlots);
    EXPECT_EQ(slot->ID, std::to_string(session.HSocket()));
    EXPECT_EQ(slot->UserName, "bob");
    EXPECT_EQ(slot->IPAddress, "127.0.0.1:" + session.GetPeerPortText());
    EXPECT_EQ(slot->Action, "Authenticated");
    EXPECT_EQ(slot->FileLocation, path("home/bob"));
    EXPECT_EQ(slot->Progress, "");
    EXPECT_TRUE(slot->SuperUser);
    EXPECT_EQ(session.UserKey, "bob's key text");
    EXPECT_EQ(session.StartDir, path("home/bob"));

    ASSERT_EQ(monitor->rows().size(), 1u);
    EXPECT_EQ(monitor->rows()[0].Action, "Authenticated");
    EXPECT_EQ(monitor->rows()[0].FileLocation, path("home/bob"));

    const std::string warning = std::string("bob") + kSuperUserAuthenticated;
    EXPECT_TRUE(serverLogHas(warning));
    ASSERT_FALSE(clientLog.lines().empty());
    EXPECT_EQ(clientLog.lines().back().text, warning) << "the warning goes to both logs";
    EXPECT_EQ(clientLog.lines().back().colour, settings::clRed);
}

TEST_F(AuthTest, SuperUserWarningFollowsTheOption)
{
    UserRecord u = user("root", "pw");
    u.SuperUser = true;
    addUser(u);
    settings.ShowSuperUserWarnings = false;
    ASSERT_TRUE(login(connect(), "root", "pw"));
    EXPECT_FALSE(serverLogHas(kSuperUserAuthenticated));
    EXPECT_TRUE(clientLog.lines().empty());
}

TEST_F(AuthTest, LoggingInAgainKeepsOneSlotAndAFailedRetryEndsTheLogin)
{
    UserRecord a = user("alice", "pa");
    a.HomeDirectory.assign("/srv/alice");
    a.EncryptionKey.assign("alice key");
    addUser(a);
    addUser(user("bob", "pb"));

    ftpserver::TFtpCtrlSocket& session = connect();
    const std::string engineStart = session.StartDir;
    ASSERT_TRUE(login(session, "alice", "pa"));
    const int first = session.SessionSlot;
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(login(session, "alice", "pa"));
        EXPECT_EQ(session.SessionSlot, first);
        EXPECT_EQ(sessions.inUseCount(), 1);
    }

    // bob has no home: he must not inherit alice's.
    ASSERT_TRUE(login(session, "bob", "pb"));
    EXPECT_EQ(session.SessionSlot, first);
    EXPECT_EQ(session.StartDir, engineStart);
    EXPECT_EQ(session.UserKey, "");
    EXPECT_EQ(sessions.slotOf(session)->UserName, "bob");

    ASSERT_TRUE(login(session, "alice", "pa"));
    EXPECT_FALSE(login(session, "alice", "wrong"));
    EXPECT_EQ(sessions.slotOf(session), nullptr);
    EXPECT_EQ(sessions.inUseCount(), 0);
    EXPECT_EQ(session.StartDir, engineStart);
    EXPECT_EQ(session.UserKey, "");
    EXPECT_TRUE(monitor->rows().empty());
}

TEST_F(AuthTest, AFullSessionTableRefusesTheLogin)
{
    addUser(user("bob", "pw"));
    std::vector<std::unique_ptr<ftpserver::TFtpCtrlSocket>> holders;
    for (int i = 0; i < kSessionSlots; ++i) {
        holders.push_back(std::make_unique<ftpserver::TFtpCtrlSocket>(loop));
        ASSERT_NE(sessions.take(*holders.back()), 0);
    }
    ftpserver::TFtpCtrlSocket& session = connect();
    EXPECT_FALSE(login(session, "bob", "pw"));
    EXPECT_TRUE(serverLogHas("session slots are in use"));

    sessions.release(*holders[17]);
    EXPECT_TRUE(login(session, "bob", "pw"));
    for (auto& h : holders)
        sessions.release(*h);
}

TEST_F(AuthTest, AStaleSlotNumberNeverReachesAnotherSessionsSlot)
{
    ftpserver::TFtpCtrlSocket a(loop), b(loop);
    const int n = sessions.take(a);
    std::vector<std::unique_ptr<ftpserver::TFtpCtrlSocket>> others;
    for (int i = 1; i < kSessionSlots; ++i) {
        others.push_back(std::make_unique<ftpserver::TFtpCtrlSocket>(loop));
        ASSERT_NE(sessions.take(*others.back()), 0);
    }
    sessions.release(a);
    a.SessionSlot = n; // as if it still carried the number
    ASSERT_EQ(sessions.take(b), n) << "the only free slot";
    EXPECT_EQ(sessions.slotOf(a), nullptr);
    EXPECT_NE(sessions.slotOf(b), nullptr);
    sessions.release(a);
    EXPECT_NE(sessions.slotOf(b), nullptr) << "releasing with a stale number frees nothing";
    sessions.clear();
}

TEST(EffectiveAccessTest, UserEntriesFirstThenGroupsInMembershipOrderCappedAt128)
{
    UserRecord u;
    u.Access[0].Path.assign("/user/0");
    u.Access[5].Path.assign("/user/5");
    u.Access[31].Path.assign("/user/31");
    std::vector<GroupRecord> groups;
    for (std::size_t g = 0; g < kMaxMemberships; ++g) {
        GroupRecord rec;
        rec.GroupName.assign("g" + std::to_string(g));
        rec.Enabled = true;
        for (std::size_t e = 0; e < kMaxAccessEntries; ++e)
            rec.Access[e].Path.assign("/g" + std::to_string(g) + "/" + std::to_string(e));
        groups.push_back(rec);
        // Membership order is the reverse of the file order.
        u.Groups[kMaxMemberships - 1 - g].assign(rec.GroupName.text());
    }
    const EffectiveAccess access = buildEffectiveAccess(u, groups, "");
    ASSERT_EQ(access.count, kMaxEffectiveEntries);
    EXPECT_EQ(access.entries[0].Path.text(), "/user/0");
    EXPECT_EQ(access.entries[1].Path.text(), "/user/5");
    EXPECT_EQ(access.entries[2].Path.text(), "/user/31");
    EXPECT_EQ(access.entries[3].Path.text(), "/g15/0");
    EXPECT_EQ(access.entries[3 + 32].Path.text(), "/g14/0");
    EXPECT_EQ(access.entries[127].Path.text(), "/g12/28"); // 3 + 3 * 32 + 29 = 128
}

TEST(EffectiveAccessTest, HomeDirectoryComesFromUserThenFirstGroupWithOneThenDefault)
{
    auto groupWith = [](const char* name, const char* home, bool enabled) {
        GroupRecord g;
        g.GroupName.assign(name);
        g.HomeDirectory.assign(home);
        g.Enabled = enabled;
        g.Access[0].Path.assign(std::string("/") + name);
        return g;
    };
    const std::vector<GroupRecord> groups{groupWith("none", "", true), groupWith("off", "/off-home", false),
                                          groupWith("second", "/second-home", true),
                                          groupWith("third", "/third-home", true)};
    struct Case {
        const char* userHome;
        std::vector<const char*> memberships;
        const char* defaultHome;
        const char* want;
        std::size_t entries;
    };
    const Case cases[] = {
        {"/own", {"none", "second"}, "/default", "/own", 2},
        {"", {"none", "second", "third"}, "/default", "/second-home", 3},
        {"", {"off", "third"}, "/default", "/third-home", 1}, // a disabled group gives nothing
        {"", {"missing", "none"}, "/default", "/default", 1},
        {"", {}, "", "", 0},
    };
    for (const Case& c : cases) {
        UserRecord u;
        u.HomeDirectory.assign(c.userHome);
        for (std::size_t i = 0; i < c.memberships.size(); ++i)
            u.Groups[i].assign(c.memberships[i]);
        const EffectiveAccess access = buildEffectiveAccess(u, groups, c.defaultHome);
        EXPECT_EQ(access.home, c.want) << c.userHome;
        EXPECT_EQ(access.count, c.entries) << c.userHome;
    }
}

TEST_F(AuthTest, GroupsComeFromTheWorkingGroupFile)
{
    GroupRecord staff = group("staff");
    staff.HomeDirectory.assign("/srv/staff");
    staff.Access[0] = entry("/srv/staff", {Right::Read});
    addGroup(staff);
    UserRecord u = user("bob", "pw");
    u.Groups[0].assign("staff");
    u.Groups[1].assign("Staff"); // group names are case-sensitive: no such group
    addUser(u);

    ftpserver::TFtpCtrlSocket& session = connect();
    ASSERT_TRUE(login(session, "bob", "pw"));
    EXPECT_EQ(session.StartDir, "/srv/staff");
    EXPECT_EQ(sessions.slotOf(session)->Access[0].Path.text(), "/srv/staff");
    EXPECT_FALSE(sessions.slotOf(session)->Access[1].used());

    std::filesystem::remove(store->groups().workingPath());
    settings.DefaultHomeDirectory = "/srv/default";
    ASSERT_TRUE(login(session, "bob", "pw"));
    EXPECT_EQ(session.StartDir, "/srv/default") << "no group file: memberships give nothing";
}

TEST_F(AuthTest, LoginMessageLinesPrecedeTheReplyOnlyOnSuccess)
{
    addUser(user("bob", "pw"));
    writeFile("login.txt", "Welcome\r\nsecond line\n\nlast without end");
    settings.LoginMessage = path("login.txt");

    ftpserver::TFtpCtrlSocket& session = connect();
    test::LineClient& client = lastClient();
    EXPECT_FALSE(login(session, "bob", "wrong"));
    ASSERT_TRUE(login(session, "bob", "pw"));
    ASSERT_TRUE(client.waitLines(5));
    const std::vector<std::string> want{"220 VESK Server Ready.", "230-Welcome", "230-second line", "230-",
                                        "230-last without end"};
    EXPECT_EQ(client.lines, want);

    settings.LoginMessage = path("gone.txt");
    ASSERT_TRUE(login(session, "bob", "pw"));
    test::runFor(loop, 50);
    EXPECT_EQ(client.lines.size(), 5u);
}

TEST(ConstantTimeEqualsTest, ComparesWholeTexts)
{
    struct Case {
        const char* a;
        const char* b;
        bool want;
    };
    const Case cases[] = {{"", "", true},     {"abc", "abc", true}, {"abc", "abd", false},
                          {"abc", "ab", false}, {"ab", "abc", false}, {"", "x", false}};
    for (const Case& c : cases)
        EXPECT_EQ(constantTimeEquals(c.a, c.b), c.want) << c.a << " / " << c.b;
    EXPECT_FALSE(constantTimeEquals(std::string("a\0b", 3), std::string("a\0c", 3)));
}

// ---- through the server's own USER and PASS ------------------------------------------

TEST_F(AuthTest, ThroughTheServerALoginIsAnsweredWithItsMessage)
{
    addUser(user("bob", "pw"));
    writeFile("login.txt", "Hello bob\n");
    settings.LoginMessage = path("login.txt");
    connect();
    test::LineClient& client = lastClient();
    EXPECT_EQ(client.command("USER bob"), "331 Password required for bob.");
    EXPECT_EQ(client.command("PASS pw"), "230-Hello bob");
    ASSERT_TRUE(client.waitLines(client.lines.size() + 1));
    EXPECT_EQ(client.lines.back(), "230 User bob logged in.");
    EXPECT_EQ(sessions.inUseCount(), 1);
}

// A refused login is answered after the server's LoginDelayMs, and commands
// sent behind it wait for it.
TEST_F(AuthTest, ARefusedLoginIsAnsweredLaterWithoutHoldingUpOtherClients)
{
    if (!ServerAdministration::serverDelaysFailedLogins())
        GTEST_SKIP() << "the server has no LoginDelayMs";
    addUser(user("bob", "pw"));
    connect();
    test::LineClient& slow = lastClient();
    connect();
    test::LineClient& other = lastClient();

    const auto started = std::chrono::steady_clock::now();
    ASSERT_EQ(slow.command("USER bob"), "331 Password required for bob.");
    const std::size_t before = slow.lines.size();
    slow.send("PASS wrong\r\nNOOP behind\r\n");
    // While the refusal waits, the loop goes on serving others.
    EXPECT_EQ(other.command("USER x"), "331 Password required for x.");
    EXPECT_EQ(slow.lines.size(), before) << "the refusal went out at once";
    ASSERT_TRUE(slow.waitLines(before + 1, 5000));
    EXPECT_EQ(slow.lines[before], "530 Login incorrect.");
    ASSERT_TRUE(slow.waitLines(before + 2, 5000));
    EXPECT_EQ(slow.lines[before + 1], "200 Ok. Parameter was 'behind'.");
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(kLoginFailureDelayMs / 2));
}

} // namespace
} // namespace vesk2::admin
