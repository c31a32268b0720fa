#include "net/resolver.h"
#include "net/winsock_errors.h"
#include "net/wsocket.h"
#include "support/loop_runner.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

using namespace vesk2::net;
using vesk2::test::runUntil;

namespace {

// A listening socket on 127.0.0.1 that adopts each incoming connection.
struct Listener {
    explicit Listener(EventLoop& loop) : server(loop)
    {
        server.SetAddr("127.0.0.1");
        server.SetPort("0");
        server.OnSessionAvailable = [this, &loop](TCustomWSocket& s, int) {
            auto peer = std::make_unique<TWSocket>(loop);
            peer->Dup(s.Accept());
            if (onAccept)
                onAccept(*peer);
            peers.push_back(std::move(peer));
        };
        server.Listen();
    }
    std::string port() const { return server.GetXPort(); }
    TWSocket server;
    std::vector<std::unique_ptr<TWSocket>> peers;
    std::function<void(TWSocket&)> onAccept;
};

class SocketTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        // Every socket of the test is gone by now: the loop must hold nothing.
        EXPECT_EQ(loop.watchCount(), 0u);
        EXPECT_EQ(loop.timerCount(), 0u);
    }
    // Connects `client` to the listener and waits for both ends.
    void connectTo(TWSocket& client, Listener& listener)
    {
        client.SetAddr("127.0.0.1");
        client.SetPort(listener.port());
        client.Connect();
        ASSERT_TRUE(runUntil(loop, [&] { return client.State() == wsConnected && !listener.peers.empty(); }));
    }
    EventLoop loop;
};

TEST_F(SocketTest, SendWhenNotConnectedThrowsTheFixedText)
{
    TWSocket s(loop);
    try {
        s.SendStr("x");
        FAIL() << "no exception";
    } catch (const ESocketException& e) {
        EXPECT_STREQ(e.what(), "Error 10057 in function Send\r\nSocket is not connected");
    }
    EXPECT_EQ(s.State(), wsClosed);
}

TEST_F(SocketTest, DataSentIsRaisedOnceFromTheLoopAfterTwoSends)
{
    Listener listener(loop);
    TWSocket client(loop);
    connectTo(client, listener);
    int sent = 0;
    client.OnDataSent = [&](TCustomWSocket&, int) { ++sent; };
    client.SendStr("first,");
    client.SendStr("second");
    EXPECT_EQ(sent, 0) << "OnDataSent must not come from inside Send";
    std::string got;
    listener.peers[0]->OnDataAvailable = [&](TCustomWSocket& s, int) { got += s.ReceiveStr(); };
    ASSERT_TRUE(runUntil(loop, [&] { return got == "first,second"; }));
    vesk2::test::runFor(loop, 20);
    EXPECT_EQ(sent, 1);
}

TEST_F(SocketTest, LargeSendArrivesWholeAndInOrder)
{
    Listener listener(loop);
    TWSocket client(loop);
    connectTo(client, listener);
    std::string payload(6 * 1024 * 1024, '\0');
    for (std::size_t i = 0; i < payload.size(); ++i)
        payload[i] = static_cast<char>(i * 131 % 251);
    int sent = 0;
    client.OnDataSent = [&](TCustomWSocket&, int) { ++sent; };
    EXPECT_EQ(client.Send(payload.data(), static_cast<int>(payload.size())), static_cast<int>(payload.size()));
    EXPECT_FALSE(client.AllSent());
    std::string got;
    listener.peers[0]->OnDataAvailable = [&](TCustomWSocket& s, int) {
        char buf[65536];
        int n = s.Receive(buf, sizeof buf);
        if (n > 0)
            got.append(buf, static_cast<std::size_t>(n));
    };
    ASSERT_TRUE(runUntil(loop, [&] { return got.size() == payload.size() && sent == 1; }, 20000));
    EXPECT_TRUE(got == payload);
}

TEST_F(SocketTest, PeerDataBeforeCloseIsDeliveredThenClosedOnce)
{
    Listener listener(loop);
    listener.onAccept = [](TWSocket& peer) {
        peer.SendStr("last words");
        peer.CloseDelayed();
    };
    TWSocket client(loop);
    std::string got;
    int closed = 0;
    bool dataBeforeClose = false;
    client.OnDataAvailable = [&](TCustomWSocket& s, int) { got += s.ReceiveStr(); };
    client.OnSessionClosed = [&](TCustomWSocket&, int) {
        ++closed;
        dataBeforeClose = got == "last words";
    };
    client.SetAddr("127.0.0.1");
    client.SetPort(listener.port());
    client.Connect();
    ASSERT_TRUE(runUntil(loop, [&] { return closed > 0; }));
    vesk2::test::runFor(loop, 30);
    EXPECT_EQ(closed, 1);
    EXPECT_TRUE(dataBeforeClose);
    EXPECT_EQ(client.State(), wsClosed);
}

TEST_F(SocketTest, CloseRaisesSessionClosedInsideTheCallAndResetsThePort)
{
    Listener listener(loop);
    TWSocket client(loop);
    connectTo(client, listener);
    int closedWith = -1;
    client.OnSessionClosed = [&](TCustomWSocket&, int error) { closedWith = error; };
    client.Close();
    EXPECT_EQ(closedWith, 0);
    EXPECT_EQ(client.State(), wsClosed);
    closedWith = -1;
    vesk2::test::runFor(loop, 20);
    EXPECT_EQ(closedWith, -1) << "a later notification for the old handle is ignored";
    try {
        client.Connect();
        FAIL() << "no exception";
    } catch (const ESocketException& e) {
        EXPECT_STREQ(e.what(), "Connect: No Port Specified");
    }
}

TEST_F(SocketTest, RefusedConnectReportsTheErrorThenCloses)
{
    std::string freePort;
    {
        Listener probe(loop);
        freePort = probe.port();
    }
    TWSocket client(loop);
    int connectedWith = -1, closed = 0;
    std::vector<TSocketState> states;
    client.OnChangeState = [&](TCustomWSocket&, TSocketState, TSocketState now) { states.push_back(now); };
    client.OnSessionConnected = [&](TCustomWSocket&, int error) { connectedWith = error; };
    client.OnSessionClosed = [&](TCustomWSocket&, int) { ++closed; };
    client.SetAddr("127.0.0.1");
    client.SetPort(freePort);
    client.Connect();
    EXPECT_EQ(client.State(), wsConnecting);
    ASSERT_TRUE(runUntil(loop, [&] { return closed > 0; }));
    EXPECT_EQ(connectedWith, WSAECONNREFUSED);
    EXPECT_EQ(client.State(), wsClosed);
    EXPECT_EQ(states, (std::vector<TSocketState>{wsOpened, wsConnecting, wsConnected, wsClosed}));
}

TEST_F(SocketTest, HandlerlessSocketDiscardsDataAndStaysConnected)
{
    Listener listener(loop);
    TWSocket client(loop);
    connectTo(client, listener);
    listener.peers[0]->SendStr(std::string(5000, 'z'));
    vesk2::test::runFor(loop, 50);
    EXPECT_EQ(client.RcvdCount(), 0);
    EXPECT_EQ(client.ReadCount(), 5000);
    EXPECT_EQ(client.State(), wsConnected);
}

TEST_F(SocketTest, PropertiesRefuseChangesWhileOpen)
{
    Listener listener(loop);
    auto expectText = [](auto action, const char* text) {
        try {
            action();
            ADD_FAILURE() << "no exception for " << text;
        } catch (const ESocketException& e) {
            EXPECT_STREQ(e.what(), text);
        }
    };
    expectText([&] { listener.server.SetPort("21"); }, "Cannot change Port if not closed");
    expectText([&] { listener.server.SetAddr("10.0.0.1"); }, "Cannot change Addr if not closed");
    expectText([&] { listener.server.SetLocalPort("5"); }, "Cannot change LocalPort if not closed");
    TWSocket closed(loop);
    expectText([&] { closed.SetLocalAddr("not.an.ip"); }, "SetLocalAddr(): Invalid IP address");
    expectText([&] { closed.SetSendFlags(7); }, "Invalid SendFlags");
    expectText([&] { closed.Connect(); }, "Connect: No Port Specified");
    closed.SetPort("21");
    expectText([&] { closed.Connect(); }, "Connect: No IP Address Specified");
    closed.SetLocalAddr(" 127.0.0.001 ");
    EXPECT_EQ(closed.LocalAddr(), "127.0.0.1");
}

TEST_F(SocketTest, DnsLookupOfADottedAddressAnswersAtOnce)
{
    TWSocket s(loop);
    int doneWith = -1;
    s.OnDnsLookupDone = [&](TCustomWSocket&, int error) { doneWith = error; };
    s.DnsLookup("127.0.0.1");
    EXPECT_EQ(doneWith, 0);
    EXPECT_EQ(s.DnsResult(), "127.0.0.1");
    EXPECT_TRUE(s.DnsResultList().empty());
}

TEST_F(SocketTest, DnsLookupOfANameRunsOnTheResolverAndCanBeCancelled)
{
    TWSocket s(loop);
    std::vector<int> done;
    s.OnDnsLookupDone = [&](TCustomWSocket&, int error) { done.push_back(error); };
    s.DnsLookup("localhost");
    EXPECT_TRUE(done.empty());
    ASSERT_TRUE(runUntil(loop, [&] { return !done.empty(); }));
    EXPECT_EQ(done[0], 0);
    EXPECT_EQ(s.DnsResult(), "127.0.0.1");
    EXPECT_FALSE(s.DnsResultList().empty());

    done.clear();
    s.DnsLookup("localhost");
    s.CancelDnsLookup();
    EXPECT_EQ(done, std::vector<int>{WSAEINTR});
    vesk2::test::runFor(loop, 100);
    EXPECT_EQ(done, std::vector<int>{WSAEINTR}) << "a cancelled lookup's result is dropped";
}

TEST_F(SocketTest, EmptyHostNameIsRefused)
{
    TWSocket s(loop);
    int doneWith = -1;
    s.OnDnsLookupDone = [&](TCustomWSocket&, int error) { doneWith = error; };
    EXPECT_THROW(s.DnsLookup(" "), ESocketException);
    EXPECT_EQ(doneWith, WSAEINVAL);
}

TEST_F(SocketTest, ExceptionInAHandlerGoesToBgExceptionAndAborts)
{
    Listener listener(loop);
    TWSocket client(loop);
    connectTo(client, listener);
    std::string caught;
    client.OnDataAvailable = [](TCustomWSocket&, int) { throw std::runtime_error("handler failed"); };
    client.OnBgException = [&](TCustomWSocket&, const std::exception& e, bool& canClose) {
        caught = e.what();
        canClose = true;
    };
    listener.peers[0]->SendStr("x");
    ASSERT_TRUE(runUntil(loop, [&] { return client.State() == wsClosed; }));
    EXPECT_EQ(caught, "handler failed");
}

TEST(SocketFunctions, IsDottedIP)
{
    struct Case {
        const char* text;
        bool want;
    };
    const Case cases[] = {
        {"10.0.0.1", true},     {"  10.0.0.1  ", true}, {"255.255.255.255", true}, {"10.0.0", false},
        {"10.0.0.256", false},  {".10.0.0.1", false},   {"10.0.0.1.", false},      {"10.0..1", false},
        {"10.0.0.1x", false},   {"", false},            {"1.2.3.4.5", false},      {"a.b.c.d", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(WSocketIsDottedIP(c.text), c.want) << '"' << c.text << '"';
}

TEST(SocketFunctions, ResolvePortAndProto)
{
    EXPECT_EQ(WSocketResolvePort("21", "tcp"), 21);
    EXPECT_EQ(WSocketResolvePort("2121abc", "tcp"), 2121);
    try {
        WSocketResolvePort(std::string(32, '1'), "tcp");
        FAIL();
    } catch (const ESocketException& e) {
        EXPECT_STREQ(e.what(), "WSocketResolvePort: Invalid Port.");
    }
    EXPECT_THROW(WSocketResolvePort("", "tcp"), ESocketException);
    EXPECT_THROW(WSocketResolvePort("no-such-service-name", "tcp"), ESocketException);
    EXPECT_EQ(WSocketResolveProto("tcp"), 6);
    EXPECT_EQ(WSocketResolveProto("17"), 17);
    EXPECT_THROW(WSocketResolveProto(""), ESocketException);
}

TEST(SocketFunctions, ResolveHost)
{
    EXPECT_EQ(dottedAddress(WSocketResolveHost("127.0.0.1")), "127.0.0.1");
    EXPECT_EQ(dottedAddress(WSocketResolveHost("255.255.255.255")), "255.255.255.255");
    try {
        WSocketResolveHost("");
        FAIL();
    } catch (const ESocketException& e) {
        EXPECT_STREQ(e.what(), "WSocketResolveHost: '' Invalid Hostname.");
    }
}

TEST(SocketFunctions, ErrorDescriptionsAndErrnoMapping)
{
    EXPECT_EQ(WSocketErrorDesc(0), "No Error");
    EXPECT_EQ(WSocketErrorDesc(10061), "Connection refused");
    EXPECT_EQ(WSocketErrorDesc(11001), "Host not found");
    EXPECT_EQ(WSocketErrorDesc(12345), "Not a WinSock error");
    EXPECT_EQ(winsockErrorFromErrno(ECONNREFUSED), 10061);
    EXPECT_EQ(winsockErrorFromErrno(EPIPE), 10054);
    EXPECT_EQ(winsockErrorFromErrno(EAGAIN), 10035);
    EXPECT_EQ(winsockErrorFromErrno(EMFILE), 10024);
}

TEST(Buffer, WritesOnlyIntoTheFreeTailAndResetsWhenDrained)
{
    TBuffer b(0);
    EXPECT_EQ(b.Size(), 1514u);
    TBuffer small(8);
    EXPECT_EQ(small.Write("abcdefghij", 10), 8u);
    small.Remove(3);
    EXPECT_EQ(small.Write("x", 1), 0u) << "space before the read count is not reused";
    std::size_t len = 0;
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(small.Peek(len)), 5), "defgh");
    small.Remove(5);
    EXPECT_EQ(small.Unsent(), 0u);
    EXPECT_EQ(small.Write("xy", 2), 2u);
}

} // namespace
