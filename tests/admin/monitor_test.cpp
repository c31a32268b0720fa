// The server monitor: status texts, rows, transfer progress, start / stop /
// kick all, the idle sweep and the protocol log lines, on a real server.

#include "admin/server_monitor.h"
#include "policy_fixture.h"

#include <gtest/gtest.h>

#include <chrono>

namespace vesk2::admin {
namespace {

using namespace std::chrono_literals;
using testing::PolicyFixture;

TEST(SpeedTextTest, KilobytesPerSecondWithTwoDecimals)
{
    struct Case {
        std::int64_t bytes;
        double seconds;
        const char* want;
    };
    const Case cases[] = {
        {2048, 2.0, "1.00"}, {1536, 1.0, "1.50"}, {5, 0.0, "5"}, {0, 3.0, "0"}, {1, 1000.0, "0.00"},
        {10LL * 1024 * 1024 * 1024, 10.0, "1048576.00"}, // sizes above 2 GiB
    };
    for (const Case& c : cases)
        EXPECT_EQ(SpeedText(c.bytes, c.seconds), c.want) << c.bytes << " / " << c.seconds;
}

TEST(ElapsedSecondsTest, MillisecondsAndWrapAfterADay)
{
    const platform::TimePoint t0{};
    EXPECT_DOUBLE_EQ(ElapsedSeconds(t0, t0 + 2500ms), 2.5);
    EXPECT_DOUBLE_EQ(ElapsedSeconds(t0, t0 + 25h), 3600.0);
    EXPECT_DOUBLE_EQ(ElapsedSeconds(t0, t0), 0.0);
}

class MonitorTest : public PolicyFixture {
protected:
    void SetUp() override
    {
        PolicyFixture::SetUp();
        addUser(user("bob", "pw"));
        monitor->OnChanged = [this] { ++changes; };
    }
    int changes = 0;
};

TEST_F(MonitorTest, StartAndStopShowInTheTextsTheLogAndTheActions)
{
    // SetUp started the server through the monitor.
    const settings::LogLine* started = serverLogLine("FTP Server Started listening on port 0");
    ASSERT_NE(started, nullptr);
    EXPECT_EQ(started->colour, settings::clBlue);
    EXPECT_EQ(monitor->statusText(), "ONLINE - 0 connections");
    EXPECT_EQ(monitor->windowTitle(), "VESK Version 2.0.7.337 - Server ONLINE - Listening on Port 0 - 0 connections");
    EXPECT_FALSE(monitor->canStart());
    EXPECT_TRUE(monitor->canStop());
    EXPECT_FALSE(monitor->canKickAll());
    const auto panels = monitor->statusPanels();
    EXPECT_EQ(panels[0], "Server Status");
    EXPECT_EQ(panels[1], "ONLINE - 0 connections");
    EXPECT_EQ(panels[2], "Maximum Concurrent Users");
    EXPECT_EQ(panels[3], "3");

    connect();
    monitor->stopServer();
    EXPECT_EQ(monitor->statusText(), "OFFLINE - 1 connections") << "sessions stay connected";
    EXPECT_EQ(monitor->windowTitle(), "VESK Version 2.0.7.337 - Server OFFLINE");
    EXPECT_TRUE(monitor->canStart());
    EXPECT_FALSE(monitor->canStop());
    const settings::LogLine* stopped = serverLogLine("FTP Server Started stopped.  No longer listening on 0");
    ASSERT_NE(stopped, nullptr);
    EXPECT_EQ(stopped->colour, settings::clRed);
    EXPECT_GT(changes, 0);
}

TEST_F(MonitorTest, StartingOnAPortInUseReportsTheError)
{
    ftpserver::TFtpServer other(loop);
    other.Addr = "127.0.0.1";
    settings::Settings otherSettings;
    otherSettings.ServerPort = port; // the fixture's server listens there
    SessionTable otherSessions;
    ServerMonitor otherMonitor(loop, other, otherSessions, otherSettings, *log);
    EXPECT_NE(otherMonitor.startServer(), "");
    EXPECT_FALSE(other.IsListening());
    EXPECT_TRUE(serverLogHas("Cannot start the FTP server on port " + port));
}

TEST_F(MonitorTest, RowsFollowLoginsAndConnectionsCountWithoutThem)
{
    EXPECT_EQ(std::vector<std::string>(connectionColumns().begin(), connectionColumns().end()),
              (std::vector<std::string>{"ID", "User Name", "IP Address", "Action", "File/Location", "Progress",
                                        "Speed"}));
    ftpserver::TFtpCtrlSocket& bob = connect();
    connect(); // connected, never logged in: counted, no row
    monitor->refresh();
    EXPECT_EQ(monitor->statusText(), "ONLINE - 2 connections");
    EXPECT_TRUE(monitor->rows().empty());
    EXPECT_TRUE(monitor->canKickAll());

    ASSERT_TRUE(login(bob, "bob", "pw"));
    ASSERT_EQ(monitor->rows().size(), 1u);
    const ConnectionRow& row = monitor->rows()[0];
    EXPECT_EQ(row.ID, std::to_string(bob.HSocket()));
    EXPECT_EQ(row.UserName, "bob");
    EXPECT_EQ(row.IPAddress, "127.0.0.1:" + bob.GetPeerPortText());
    EXPECT_EQ(row.Action, "Authenticated");
    EXPECT_EQ(row.FileLocation, "/tmp/");
    EXPECT_EQ(row.Speed, "");
}

TEST_F(MonitorTest, UploadAndDownloadProgressUntilTheNextRefresh)
{
    ftpserver::TFtpCtrlSocket& bob = connect();
    ASSERT_TRUE(login(bob, "bob", "pw"));
    const platform::TimePoint t0 = platform::TimePoint{} + 100h;

    now = t0;
    monitor->transferConnected(bob);
    now = t0 + 1s;
    monitor->storDataAvailable(bob, 1024);
    EXPECT_EQ(monitor->rows()[0].Progress, "1024");
    now = t0 + 2s;
    bob.IdleSeconds = 40;
    monitor->storDataAvailable(bob, 1024);
    EXPECT_EQ(bob.IdleSeconds, 0);
    EXPECT_EQ(monitor->rows()[0].Progress, "2048");
    EXPECT_EQ(monitor->rows()[0].Speed, "1.00 Kb/sec");
    monitor->transferClosed(bob);
    EXPECT_EQ(monitor->rows()[0].Progress, "2048 (complete)");
    monitor->refresh();
    EXPECT_EQ(monitor->rows()[0].Progress, "");
    EXPECT_EQ(monitor->rows()[0].Speed, "");

    // A second upload counts from 0 again; a download shows its own bytes,
    // not every byte the session has downloaded so far.
    monitor->transferConnected(bob);
    monitor->storDataAvailable(bob, 10);
    EXPECT_EQ(monitor->rows()[0].Progress, "10");
    bob.BytesSent = 50000;
    now = t0;
    monitor->transferConnected(bob);
    bob.BytesSent += 4096;
    now = t0 + 4s;
    monitor->retrDataSent(bob);
    EXPECT_EQ(monitor->rows()[0].Progress, "4096");
    EXPECT_EQ(monitor->rows()[0].Speed, "1.00");
}

TEST_F(MonitorTest, DataEventsForASessionWithoutARowChangeNothing)
{
    ftpserver::TFtpCtrlSocket& bob = connect();
    ASSERT_TRUE(login(bob, "bob", "pw"));
    ftpserver::TFtpCtrlSocket& stranger = connect();
    const std::vector<ConnectionRow> before = monitor->rows();
    monitor->transferConnected(stranger);
    monitor->storDataAvailable(stranger, 100);
    monitor->retrDataSent(stranger);
    monitor->transferClosed(stranger);
    ASSERT_EQ(monitor->rows().size(), before.size());
    EXPECT_EQ(monitor->rows()[0].Progress, before[0].Progress);
    EXPECT_EQ(monitor->rows()[0].Speed, before[0].Speed);
}

TEST_F(MonitorTest, DisconnectionFreesTheSlotAndLogs)
{
    ftpserver::TFtpCtrlSocket& bob = connect();
    ASSERT_TRUE(login(bob, "bob", "pw"));
    ASSERT_EQ(sessions.inUseCount(), 1);
    lastClient().socket().Close();
    ASSERT_TRUE(test::runUntil(loop, [&] { return sessions.inUseCount() == 0; }));
    EXPECT_TRUE(monitor->rows().empty());
    const settings::LogLine* line = serverLogLine("Clean Disconnect from 127.0.0.1");
    ASSERT_NE(line, nullptr);
    EXPECT_EQ(line->colour, settings::clBlue);
    EXPECT_EQ(monitor->statusText(), "ONLINE - 0 connections");
}

TEST_F(MonitorTest, KickAllDropsEverySession)
{
    monitor->kickAllUsers(); // nobody there: nothing happens
    ftpserver::TFtpCtrlSocket& bob = connect();
    ASSERT_TRUE(login(bob, "bob", "pw"));
    connect();
    monitor->refresh();
    ASSERT_TRUE(monitor->canKickAll());
    monitor->kickAllUsers();
    for (auto& c : clients)
        EXPECT_TRUE(c->waitClosed());
    ASSERT_TRUE(test::runUntil(loop, [&] { return sessions.inUseCount() == 0; }));
    EXPECT_FALSE(monitor->canKickAll());
    EXPECT_EQ(server->SessionCount(), 0);
}

TEST_F(MonitorTest, ProtocolLinesAreLoggedAndCommandsResetTheIdleCount)
{
    settings.LogIPs = true;
    ftpserver::TFtpCtrlSocket& session = connect();
    test::LineClient& client = lastClient();
    session.IdleSeconds = 50;
    const std::string reply = client.command("noop  x");
    ASSERT_NE(reply, "");
    EXPECT_EQ(session.IdleSeconds, 0);
    const std::string address = "127.0.0.1:" + session.GetPeerPortText();
    const settings::LogLine* recv = serverLogLine("RECV <- NOOP x ");
    ASSERT_NE(recv, nullptr);
    EXPECT_EQ(recv->text, address + " RECV <- NOOP x ");
    EXPECT_EQ(recv->colour, settings::clPurple);
    const settings::LogLine* send = serverLogLine("SEND -> " + reply);
    ASSERT_NE(send, nullptr);
    EXPECT_EQ(send->text, address + " SEND -> " + reply);
    EXPECT_EQ(send->colour, settings::clMaroon);
}

TEST_F(MonitorTest, QuitRaisesTheLogoutMessageBeforeTheReply)
{
    int calls = 0;
    admin->OnLogoutMessage = [&](ftpserver::TFtpServer&, ftpserver::TFtpCtrlSocket& c) {
        ++calls;
        c.SendLine("221-See you");
    };
    connect();
    test::LineClient& client = lastClient();
    EXPECT_NE(client.command("NOOP"), "");
    EXPECT_EQ(calls, 0);
    EXPECT_EQ(client.command("quit"), "221-See you");
    EXPECT_EQ(calls, 1);
}

TEST_F(MonitorTest, IdleTimerFollowsTheOptionAndTheTickDisconnectsIdleSessions)
{
    const std::size_t timers = loop.timerCount();
    monitor->setIdleTimeout(true);
    EXPECT_TRUE(monitor->idleTimerRunning());
    EXPECT_EQ(loop.timerCount(), timers + 1);
    monitor->setIdleTimeout(true);
    EXPECT_EQ(loop.timerCount(), timers + 1);
    monitor->setIdleTimeout(false);
    EXPECT_FALSE(monitor->idleTimerRunning());
    EXPECT_FALSE(settings.IdleTimeout);
    EXPECT_EQ(loop.timerCount(), timers);

    settings.IdleCount = 60;
    ftpserver::TFtpCtrlSocket& bob = connect();
    test::LineClient& bobClient = lastClient();
    ASSERT_TRUE(login(bob, "bob", "pw"));
    ftpserver::TFtpCtrlSocket& busy = connect();
    test::LineClient& busyClient = lastClient();
    bob.IdleSeconds = 55;
    monitor->idleTick(); // 60: not above the limit
    EXPECT_FALSE(serverLogHas("Disconnecting"));
    monitor->idleTick(); // 65
    busy.IdleSeconds = 0;
    const settings::LogLine* line = serverLogLine("Disconnecting bob (");
    ASSERT_NE(line, nullptr);
    EXPECT_EQ(line->text,
              "Disconnecting bob (127.0.0.1:" + bob.GetPeerPortText() + ") due to 60 seconds of inactivity.");
    EXPECT_EQ(line->colour, settings::clGreen);
    ASSERT_TRUE(bobClient.waitClosed());
    EXPECT_EQ(bobClient.lines.back(), "221 Idle timeout expired.  Goodbye.");
    ASSERT_TRUE(test::runUntil(loop, [&] { return sessions.inUseCount() == 0; }));
    EXPECT_FALSE(busyClient.closed);
}

TEST_F(MonitorTest, StartUpZeroesTheTableAndAppliesTheOptions)
{
    ftpserver::TFtpCtrlSocket stale(loop);
    sessions.take(stale);
    settings.MaximumConcurrentUsers = "7";
    settings.IdleTimeout = true;
    monitor->startUp();
    EXPECT_EQ(sessions.inUseCount(), 0);
    EXPECT_EQ(server->MaxClients, 7);
    EXPECT_TRUE(monitor->idleTimerRunning());
    monitor->setIdleTimeout(false);
}

TEST_F(MonitorTest, MaximumConcurrentUsersTakesDigitsOnly)
{
    struct Case {
        const char* text;
        bool ok;
        int maxClients;
    };
    const Case cases[] = {
        {"5", true, 5}, {"", false, 5}, {"12a", false, 5}, {"-1", false, 5},
        {"99999999999", false, 5}, {"0", true, 0}, {"010", true, 10},
    };
    for (const Case& c : cases) {
        std::string error;
        EXPECT_EQ(monitor->maximumConcurrentUsersChanged(c.text, error), c.ok) << c.text;
        EXPECT_EQ(server->MaxClients, c.maxClients) << c.text;
        EXPECT_EQ(error.empty(), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(monitor->statusPanels()[3], c.text);
        }
    }
    EXPECT_EQ(settings.MaximumConcurrentUsers, "010");
}

} // namespace
} // namespace vesk2::admin
