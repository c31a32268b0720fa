#include "ftpserver/ftp_server.h"
#include "support/line_client.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

using namespace vesk2;
using namespace vesk2::ftpserver;
using vesk2::test::LineClient;
using vesk2::test::runFor;
using vesk2::test::runUntil;

namespace {

// A server on 127.0.0.1 with one probe command that reports what it received.
class ServerCoreTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        server = std::make_unique<TFtpServer>(loop);
        server->Addr = "127.0.0.1";
        server->Port = "0";
        server->Banner = "220 VESK Server ready.";
        server->OnClientConnect = [this](TFtpServer&, TFtpCtrlSocket&, int) { ++connects; };
        server->OnClientDisconnect = [this](TFtpServer&, TFtpCtrlSocket&, int) { ++disconnects; };
        server->RegisterCommand("PROBE", [](TFtpCtrlSocket&, std::string& keyword, std::string& params,
                                            std::string& answer) { answer = "200 [" + keyword + "][" + params + "]"; });
        // The built-in table leaves two slots: FAIL and BYE go through the command event.
        server->OnClientCommand = [this](TFtpServer&, TFtpCtrlSocket& c, std::string& keyword, std::string&,
                                         std::string& answer) {
            if (keyword == "FAIL")
                throw std::runtime_error("handler broke");
            if (keyword == "BYE") {
                answer = "221 Goodbye.";
                server->PostCloseClient(c);
            }
        };
        server->Start();
        port = server->ListeningPort();
    }
    void TearDown() override
    {
        server.reset();
        runFor(loop, 10);
        EXPECT_EQ(loop.watchCount(), 0u) << "sockets left on the loop";
        EXPECT_EQ(loop.timerCount(), 0u);
    }
    std::unique_ptr<LineClient> connect()
    {
        auto c = std::make_unique<LineClient>(loop, port);
        EXPECT_TRUE(c->waitLines(1)) << "no greeting";
        return c;
    }

    net::EventLoop loop;
    std::unique_ptr<TFtpServer> server;
    std::string port;
    int connects = 0, disconnects = 0;
};

TEST_F(ServerCoreTest, GreetsAndAnswersUnknownCommands)
{
    auto c = connect();
    EXPECT_EQ(c->lines[0], "220 VESK Server ready.");
    struct Case {
        const char* line;
        const char* want;
    };
    const Case cases[] = {
        {"FOO bar", "500 'FOO': command not understood."},
        {"/x", "500 '/x': command not understood."},
        {"foo", "500 'FOO': command not understood."},
        {"  probe  x y ", "200 [PROBE][x y ]"},
        {"\tPrObE\t\targs", "200 [PROBE][args]"},
        {"probe-rest", "200 [PROBE][-rest]"},
        {"PROBE a\xff\xff" "b", "200 [PROBE][a\xff" "b]"},
        {"PROBE a\xff\xf4" "b", "200 [PROBE][ab]"},
        {"FAIL", "501 handler broke"},
    };
    for (const auto& tc : cases)
        EXPECT_EQ(c->command(tc.line), tc.want) << tc.line;
}

TEST_F(ServerCoreTest, NulBytesAndGarbageDoNotEndTheSession)
{
    auto c = connect();
    c->send(std::string("PROBE a\0b\r\n", 11));
    ASSERT_TRUE(c->waitLines(2));
    EXPECT_EQ(c->lines[1], std::string("200 [PROBE][a\0b]", 16));
    std::string garbage;
    for (int i = 0; i < 1500; ++i)
        garbage += static_cast<char>((i * 37 + 11) % 256 == '\n' ? 'x' : (i * 37 + 11) % 256);
    c->send(garbage + "\r\n");
    ASSERT_TRUE(c->waitLines(3));
    EXPECT_EQ(c->lines[2].substr(0, 4), "500 ");
    EXPECT_EQ(c->command("PROBE alive"), "200 [PROBE][alive]");
}

TEST_F(ServerCoreTest, ShortLinesCloseWithoutReply)
{
    for (const char* line : {"\r\n", "x\r\n", "\n"}) {
        auto c = connect();
        c->send(line);
        EXPECT_TRUE(c->waitClosed()) << "line " << testing::PrintToString(line);
        EXPECT_EQ(c->lines.size(), 1u);
    }
}

TEST_F(ServerCoreTest, PartialLinesWaitAndSeveralLinesInOneBlockRunInOrder)
{
    auto c = connect();
    c->send("PRO");
    runFor(loop, 30);
    EXPECT_EQ(c->lines.size(), 1u);
    c->send("BE one\r\nPROBE two\nPROBE three\r\n");
    ASSERT_TRUE(c->waitLines(4));
    EXPECT_EQ(c->lines[1], "200 [PROBE][one]");
    EXPECT_EQ(c->lines[2], "200 [PROBE][two]");
    EXPECT_EQ(c->lines[3], "200 [PROBE][three]");
}

TEST_F(ServerCoreTest, OverlongLineIsRefusedOnceAndTheSessionGoesOn)
{
    auto c = connect();
    c->send("PROBE " + std::string(100000, 'a'));
    ASSERT_TRUE(c->waitLines(2));
    EXPECT_EQ(c->lines[1], "500 Command line too long.");
    c->send(std::string(5000, 'b') + "\r\nPROBE after\r\n");
    ASSERT_TRUE(c->waitLines(3));
    EXPECT_EQ(c->lines[2], "200 [PROBE][after]");
    runFor(loop, 20);
    EXPECT_EQ(c->lines.size(), 3u);
}

TEST_F(ServerCoreTest, FourthClientIsRefusedWhenThreeAreServed)
{
    server->MaxClients = 3;
    std::vector<std::unique_ptr<LineClient>> clients;
    for (int i = 0; i < 3; ++i)
        clients.push_back(connect());
    auto fourth = connect();
    EXPECT_EQ(fourth->lines[0], "421 Too many users connected.");
    EXPECT_TRUE(fourth->waitClosed());
    EXPECT_TRUE(runUntil(loop, [&] { return disconnects == 1; }));
    EXPECT_EQ(connects, 4);
    EXPECT_EQ(server->SessionCount(), 3);
    EXPECT_EQ(clients[2]->command("PROBE still"), "200 [PROBE][still]");
}

TEST_F(ServerCoreTest, NoLimitWhenMaxClientsIsZero)
{
    server->MaxClients = 0;
    std::vector<std::unique_ptr<LineClient>> clients;
    for (int i = 0; i < 6; ++i)
        clients.push_back(connect());
    for (auto& c : clients)
        EXPECT_EQ(c->lines[0], "220 VESK Server ready.");
    EXPECT_EQ(server->SessionCount(), 6);
}

TEST_F(ServerCoreTest, PolicyEventsRewriteCommandsAndAnswers)
{
    server->OnClientCommand = [](TFtpServer&, TFtpCtrlSocket&, std::string& keyword, std::string& params,
                                 std::string& answer) {
        if (keyword == "SECRET")
            answer = "550 Not for you.";
        if (keyword == "ALIAS")
            keyword = "PROBE", params = "aliased";
    };
    server->OnAnswerToClient = [](TFtpServer&, TFtpCtrlSocket&, std::string& answer) {
        if (answer.rfind("200", 0) == 0)
            answer += " (rewritten)";
    };
    auto c = connect();
    EXPECT_EQ(c->command("SECRET x"), "550 Not for you.");
    EXPECT_EQ(c->command("ALIAS"), "200 [PROBE][aliased] (rewritten)");
}

TEST_F(ServerCoreTest, ClientClosedByConnectHandlerGetsNoGreeting)
{
    server->OnClientConnect = [](TFtpServer&, TFtpCtrlSocket& client, int) { client.Close(); };
    LineClient c(loop, port);
    EXPECT_TRUE(c.waitClosed());
    EXPECT_TRUE(c.lines.empty());
    EXPECT_TRUE(runUntil(loop, [&] { return disconnects == 1 && server->SessionCount() == 0; }));
}

TEST_F(ServerCoreTest, ReplyLeavesBeforeTheDeferredClose)
{
    auto c = connect();
    // Fill the send buffer first, so the close has to wait for it to drain.
    const std::string big(200000, 'x');
    server->RegisterCommand("FLOOD", [&](TFtpCtrlSocket& client, std::string&, std::string&, std::string& answer) {
        for (int i = 0; i < 20; ++i)
            client.SendLine("150-" + big);
        answer = "200 flooded";
    });
    c->send("FLOOD\r\nBYE\r\n");
    ASSERT_TRUE(c->waitClosed(20000));
    ASSERT_GE(c->lines.size(), 23u);
    EXPECT_EQ(c->lines[21], "200 flooded");
    EXPECT_EQ(c->lines[22], "221 Goodbye.");
    EXPECT_TRUE(runUntil(loop, [&] { return server->SessionCount() == 0; }));
}

TEST_F(ServerCoreTest, IdleSweepRemovesTimedOutSessionsAndVisitsAll)
{
    std::vector<std::unique_ptr<LineClient>> clients;
    for (int i = 0; i < 3; ++i)
        clients.push_back(connect());
    ASSERT_EQ(server->SessionCount(), 3);
    server->Clients()[0]->IdleSeconds = 8;
    server->Clients()[0]->UserName = "first";
    server->Clients()[2]->IdleSeconds = 6;
    server->Clients()[2]->UserName = "third";
    std::string message;
    server->SweepIdleClients(5, 10, message);
    EXPECT_EQ(server->SessionCount(), 1);
    EXPECT_EQ(message.rfind("Disconnecting third (127.0.0.1:", 0), 0u) << message;
    EXPECT_NE(message.find(") due to 10 seconds of inactivity."), std::string::npos);
    EXPECT_TRUE(clients[0]->waitClosed());
    EXPECT_TRUE(clients[2]->waitClosed());
    EXPECT_EQ(clients[0]->lines.back(), "221 Idle timeout expired.  Goodbye.");
    EXPECT_EQ(clients[1]->command("PROBE ok"), "200 [PROBE][ok]");
    server->SweepIdleClients(5, 10, message);
    EXPECT_TRUE(message.empty());
    EXPECT_TRUE(runUntil(loop, [&] { return disconnects == 2; }));
}

TEST_F(ServerCoreTest, StopKeepsSessionsAndStartWhileListeningChangesNothing)
{
    int starts = 0, stops = 0;
    server->OnStart = [&](TFtpServer&) { ++starts; };
    server->OnStop = [&](TFtpServer&) { ++stops; };
    server->Start();
    EXPECT_EQ(starts, 0);
    auto c = connect();
    server->Stop();
    EXPECT_EQ(stops, 1);
    EXPECT_FALSE(server->IsListening());
    EXPECT_EQ(c->command("PROBE after stop"), "200 [PROBE][after stop]");
    server->DropAllClients();
    EXPECT_TRUE(c->waitClosed());
    EXPECT_EQ(server->SessionCount(), 0);
}

TEST_F(ServerCoreTest, CommandTableHoldsThirtyTwoEntries)
{
    // The built-in table holds 30 entries and the fixture adds PROBE.
    int added = 0;
    try {
        for (; added < 40; ++added)
            server->RegisterCommand("X" + std::to_string(added), nullptr);
        FAIL() << "no limit";
    } catch (const FtpServerException& e) {
        EXPECT_STREQ(e.what(), "Too many command");
    }
    EXPECT_EQ(added, TFtpServer::kMaxCommands - 31);
}

TEST_F(ServerCoreTest, ClientThatNeverReadsIsDroppedAtTheCap)
{
    std::string dropped;
    server->OnDisplay = [&](TFtpServer&, TFtpCtrlSocket*, const std::string& text) { dropped = text; };
    server->RegisterCommand("BIG", [](TFtpCtrlSocket& client, std::string&, std::string&, std::string& answer) {
        for (int i = 0; i < 64; ++i)
            client.SendLine(std::string(100000, 'y'));
        answer = "200 done";
    });
    auto c = connect();
    c->socket().Pause(); // the client reads nothing from now on
    for (int i = 0; i < 3; ++i)
        c->send("BIG\r\n");
    EXPECT_TRUE(runUntil(loop, [&] { return server->SessionCount() == 0; }, 10000));
    EXPECT_NE(dropped.find("MiB of replies left unread"), std::string::npos) << dropped;
}

TEST_F(ServerCoreTest, ManyShortSessionsLeaveNothingBehind)
{
    for (int i = 0; i < 300; ++i) {
        LineClient c(loop, port);
        ASSERT_TRUE(c.waitLines(1));
        if (i % 3 == 0)
            c.send("PROBE\r\n");
        c.socket().Close();
    }
    EXPECT_TRUE(runUntil(loop, [&] { return server->SessionCount() == 0 && disconnects == 300; }));
    auto c = connect();
    EXPECT_EQ(c->command("PROBE fine"), "200 [PROBE][fine]");
}

} // namespace
