// Line mode of the socket: a client in line mode, fed by a peer on 127.0.0.1
// that sends chosen pieces, each one read by the client before the next goes.

#include "net/wsocket.h"
#include "support/loop_runner.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

using namespace vesk2::net;
using vesk2::test::runFor;
using vesk2::test::runUntil;

namespace {

// A connected pair: `client` (the socket under test) and `peer`, the listener's
// end, which collects what the client echoes.
struct Connection {
    explicit Connection(EventLoop& loop) : m_loop(loop), server(loop), client(loop)
    {
        server.SetAddr("127.0.0.1");
        server.SetPort("0");
        server.OnSessionAvailable = [this](TCustomWSocket& s, int) {
            peer = std::make_unique<TWSocket>(m_loop);
            peer->Dup(s.Accept());
            peer->OnDataAvailable = [this](TCustomWSocket& p, int) { echoed += p.ReceiveStr(); };
        };
        server.Listen();
        client.SetAddr("127.0.0.1");
        client.SetPort(server.GetXPort());
        client.Connect();
        connected = runUntil(m_loop, [&] { return client.State() == wsConnected && peer; });
    }
    ~Connection()
    {
        // The test's handlers may point at locals that are already gone.
        client.OnDataAvailable = nullptr;
        client.OnSessionClosed = nullptr;
        client.Close();
        peer.reset();
        server.Close();
    }
    // Sends one piece and waits until the client has taken all of it in.
    bool send(const std::string& piece)
    {
        const auto before = client.ReadCount();
        peer->SendStr(piece);
        return runUntil(m_loop, [&] { return client.ReadCount() >= before + static_cast<std::int64_t>(piece.size()); });
    }
    // Delivered lines are read whole and kept.
    void collectLines()
    {
        client.OnDataAvailable = [this](TCustomWSocket& s, int) {
            maxPending = std::max(maxPending, client.PendingBytes());
            lines.push_back(s.ReceiveStr());
        };
    }

    EventLoop& m_loop;
    TWSocket server;
    TWSocket client;
    std::unique_ptr<TWSocket> peer;
    bool connected = false;
    std::string echoed;
    std::vector<std::string> lines;
    int maxPending = 0;
};

class LineModeTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        EXPECT_EQ(loop.watchCount(), 0u);
        EXPECT_EQ(loop.timerCount(), 0u);
    }
    EventLoop loop;
};

TEST_F(LineModeTest, LinesAreFoundAcrossReceiveBoundaries)
{
    struct Case {
        const char* lineEnd;
        std::vector<std::string> pieces;
        std::vector<std::string> lines;
        int pending; // bytes still held afterwards
    };
    const Case cases[] = {
        {"\r\n", {"AB", "\r", "\nCD"}, {"AB\r\n"}, 2},
        {"\r\n", {"one\r\ntwo\r\n"}, {"one\r\n", "two\r\n"}, 0},
        {"\r\n", {"a\r", "\nb", "\r\nc\r", "\n"}, {"a\r\n", "b\r\n", "c\r\n"}, 0},
        {"\r\n", {"no end\r", "still none\n"}, {}, 18},
        {"||", {"x|", "|y||z"}, {"x||", "y||"}, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.pieces));
        Connection conn(loop);
        ASSERT_TRUE(conn.connected);
        conn.collectLines();
        conn.client.SetLineEnd(c.lineEnd);
        conn.client.SetLineMode(true);
        for (const auto& piece : c.pieces)
            ASSERT_TRUE(conn.send(piece));
        runFor(loop, 10);
        EXPECT_EQ(conn.lines, c.lines);
        EXPECT_EQ(conn.client.PendingBytes(), c.pending);
        EXPECT_TRUE(conn.echoed.empty()) << "no echo unless asked for";
    }
}

TEST_F(LineModeTest, LastUnterminatedLineIsDeliveredBeforeTheClose)
{
    Connection conn(loop);
    ASSERT_TRUE(conn.connected);
    std::vector<std::string> events;
    conn.client.OnDataAvailable = [&](TCustomWSocket& s, int) { events.push_back("data " + s.ReceiveStr()); };
    conn.client.OnSessionClosed = [&](TCustomWSocket&, int) { events.push_back("closed"); };
    conn.client.SetLineMode(true);
    conn.peer->SendStr("first\r\nXYZ");
    conn.peer->CloseDelayed();
    ASSERT_TRUE(runUntil(loop, [&] { return conn.client.State() == wsClosed; }));
    EXPECT_EQ(events, (std::vector<std::string>{"data first\r\n", "data XYZ", "closed"}));
    EXPECT_EQ(conn.client.PendingBytes(), 0);
}

TEST_F(LineModeTest, EditingAppliesBackspaceAndTabAndEchoes)
{
    struct Case {
        bool edit;
        bool echo;
        std::vector<std::string> pieces;
        const char* line;
        const char* echoed;
    };
    const Case cases[] = {
        {true, true, {"AB\bC\r\n"}, "AC\r\n", "AB\b \bC\r\n"},
        {true, false, {"AB\tC\r\n"}, "AB      C\r\n", ""},
        {true, true, {"AB\tC\r\n"}, "AB      C\r\n", "AB      C\r\n"},
        {true, true, {"\tX\r\n"}, "        X\r\n", "        X\r\n"},
        {true, true, {"AB", "\b\bX\r\n"}, "X\r\n", "AB\b \b\b \bX\r\n"}, // reaches into an earlier receive
        {true, true, {"\bA\r\n"}, "A\r\n", "A\r\n"},                      // nothing to erase: no echo either
        {false, true, {"A\bB\r\n"}, "A\bB\r\n", "A\bB\r\n"},              // echo without editing
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.pieces));
        Connection conn(loop);
        ASSERT_TRUE(conn.connected);
        conn.collectLines();
        conn.client.LineEdit = c.edit;
        conn.client.LineEcho = c.echo;
        conn.client.SetLineMode(true);
        for (const auto& piece : c.pieces)
            ASSERT_TRUE(conn.send(piece));
        const std::string wantEcho = c.echoed;
        ASSERT_TRUE(runUntil(loop, [&] { return conn.echoed.size() >= wantEcho.size() && !conn.lines.empty(); }));
        runFor(loop, 10);
        EXPECT_EQ(conn.lines, std::vector<std::string>{c.line});
        EXPECT_EQ(conn.echoed, wantEcho);
    }
}

TEST_F(LineModeTest, SwitchingModesRedeliversHeldBytesInTheNewMode)
{
    Connection conn(loop);
    ASSERT_TRUE(conn.connected);
    std::vector<std::string> events;
    conn.client.OnDataAvailable = [&](TCustomWSocket& s, int) {
        if (conn.client.LineMode()) {
            const std::string line = s.ReceiveStr();
            events.push_back("line " + line);
            if (line == "one\r\n")
                conn.client.SetLineMode(false);
        } else {
            char buf[5];
            const int n = s.Receive(buf, sizeof buf);
            if (n > 0) {
                events.push_back("raw " + std::string(buf, static_cast<std::size_t>(n)));
                conn.client.SetLineMode(true);
            }
        }
    };
    conn.client.SetLineMode(true);
    conn.peer->SendStr("one\r\ntwo\r\nthree\r\n");
    ASSERT_TRUE(runUntil(loop, [&] { return events.size() >= 3; }));
    runFor(loop, 10);
    EXPECT_EQ(events, (std::vector<std::string>{"line one\r\n", "raw two\r\n", "line three\r\n"}));
    EXPECT_EQ(conn.client.PendingBytes(), 0);
}

TEST_F(LineModeTest, UnreadRestOfALineStaysInFrontAfterSwitchingOff)
{
    Connection conn(loop);
    ASSERT_TRUE(conn.connected);
    std::vector<std::string> events;
    conn.client.OnDataAvailable = [&](TCustomWSocket& s, int) {
        if (conn.client.LineMode()) {
            char buf[2];
            const int n = s.Receive(buf, sizeof buf);
            events.push_back("line part " + std::string(buf, static_cast<std::size_t>(std::max(n, 0))));
            conn.client.SetLineMode(false);
        } else {
            const std::string got = s.ReceiveStr(); // held bytes come first, whole
            if (!got.empty())
                events.push_back("raw " + got);
        }
    };
    conn.client.SetLineMode(true);
    conn.peer->SendStr("one\r\ntwo\r\n");
    ASSERT_TRUE(runUntil(loop, [&] { return events.size() >= 2; }));
    conn.peer->SendStr("after");
    ASSERT_TRUE(runUntil(loop, [&] { return events.size() >= 3; }));
    EXPECT_EQ(events, (std::vector<std::string>{"line part on", "raw e\r\ntwo\r\n", "raw after"}));
}

TEST_F(LineModeTest, ALineWithoutTerminatorIsCutAt64KiB)
{
    Connection conn(loop);
    ASSERT_TRUE(conn.connected);
    conn.collectLines();
    conn.client.SetLineMode(true);
    const std::size_t total = kMaxLineLength + 4464;
    ASSERT_TRUE(conn.send(std::string(total, 'x')));
    ASSERT_TRUE(conn.send("\r\n"));
    ASSERT_TRUE(runUntil(loop, [&] { return conn.lines.size() == 2; }));
    EXPECT_EQ(conn.lines[0], std::string(kMaxLineLength, 'x'));
    EXPECT_EQ(conn.lines[1], std::string(total - kMaxLineLength, 'x') + "\r\n");
    EXPECT_LE(conn.maxPending, static_cast<int>(kMaxLineLength));
}

TEST_F(LineModeTest, ALineTheHandlerWillNotReadIsDroppedNotLoopedOn)
{
    Connection conn(loop);
    ASSERT_TRUE(conn.connected);
    int skipCalls = 0;
    std::vector<std::string> read;
    conn.client.OnDataAvailable = [&](TCustomWSocket& s, int) {
        if (conn.client.RcvdCount() == 6) // "skip\r\n" is left alone
            ++skipCalls;
        else
            read.push_back(s.ReceiveStr());
    };
    conn.client.SetLineMode(true);
    conn.peer->SendStr("skip\r\nkeep!\r\n");
    ASSERT_TRUE(runUntil(loop, [&] { return !read.empty(); }));
    EXPECT_EQ(read, std::vector<std::string>{"keep!\r\n"});
    EXPECT_EQ(skipCalls, 2);
    EXPECT_EQ(conn.client.PendingBytes(), 0);
}

TEST_F(LineModeTest, WithoutAHandlerLinesAreDropped)
{
    Connection conn(loop);
    ASSERT_TRUE(conn.connected);
    conn.client.SetLineMode(true);
    ASSERT_TRUE(conn.send("lost\r\npartial"));
    EXPECT_EQ(conn.client.PendingBytes(), 7);
    conn.collectLines();
    ASSERT_TRUE(conn.send("\r\n"));
    EXPECT_EQ(conn.lines, std::vector<std::string>{"partial\r\n"});
}

} // namespace
