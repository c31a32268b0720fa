// The SOCKS client against a scripted proxy: a listener on 127.0.0.1 that
// checks every byte the client sends and answers with scripted bytes.

#include "net/wsocket.h"
#include "support/loop_runner.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

using namespace vesk2::net;
using vesk2::test::runFor;
using vesk2::test::runUntil;

namespace {

std::string bytes(std::initializer_list<int> values)
{
    std::string s;
    for (int v : values)
        s += static_cast<char>(v);
    return s;
}

std::string hex(const std::string& s)
{
    std::string out;
    char buf[4];
    for (unsigned char c : s) {
        std::snprintf(buf, sizeof buf, "%02x ", c);
        out += buf;
    }
    return out;
}

// The client's destination in every case: port 2121 (0x0849).
const std::string kDestPort = bytes({0x08, 0x49});

std::string greeting(int method) { return bytes({5, 1, method}); }
std::string level5Request(const std::string& name) { return bytes({5, 1, 0, 3, static_cast<int>(name.size())}) + name + kDestPort; }
std::string authRequest(const std::string& user, const std::string& pass)
{
    return bytes({1, static_cast<int>(user.size())}) + user + bytes({static_cast<int>(pass.size())}) + pass;
}
std::string level4Request(const std::string& address, const std::string& user, const std::string& name = "")
{
    std::string r = bytes({4, 1}) + kDestPort + address + user + bytes({0});
    if (!name.empty())
        r += name + bytes({0});
    return r;
}
// A level-5 success reply with an IPv4 bound address 127.0.0.1:1080.
const std::string kReplyIPv4 = bytes({5, 0, 0, 1, 127, 0, 0, 1, 0x04, 0x38});
const std::string kLevel4Granted = bytes({0, 90, 0, 0, 0, 0, 0, 0});

struct Step {
    std::string expect; // bytes the client must send next
    std::string reply;  // bytes sent back once they arrived
    bool closeAfter = false;
};

// A proxy that plays a script on the first connection it accepts; whatever
// the client sends after the script ends is collected in afterScript.
struct ScriptedProxy {
    ScriptedProxy(EventLoop& loop, std::vector<Step> steps) : listener(loop), script(std::move(steps))
    {
        listener.SetAddr("127.0.0.1");
        listener.SetPort("0");
        listener.OnSessionAvailable = [this, &loop](TCustomWSocket& s, int) {
            ++accepted;
            peer = std::make_unique<TWSocket>(loop);
            peer->Dup(s.Accept());
            peer->OnDataAvailable = [this](TCustomWSocket& p, int) { onData(p.ReceiveStr()); };
        };
        listener.Listen();
    }
    void onData(const std::string& data)
    {
        pending += data;
        while (step < script.size() && pending.size() >= script[step].expect.size()) {
            const Step& s = script[step];
            if (pending.compare(0, s.expect.size(), s.expect) != 0)
                mismatches.push_back("step " + std::to_string(step) + ": want " + hex(s.expect) + "got " +
                                     hex(pending.substr(0, s.expect.size())));
            pending.erase(0, s.expect.size());
            ++step;
            if (!s.reply.empty())
                peer->SendStr(s.reply);
            if (s.closeAfter)
                peer->CloseDelayed();
        }
        if (step == script.size()) {
            afterScript += pending;
            pending.clear();
        }
    }
    std::string port() const { return listener.GetXPort(); }

    TWSocket listener;
    std::unique_ptr<TWSocket> peer;
    std::vector<Step> script;
    std::size_t step = 0;
    std::string pending, afterScript;
    std::vector<std::string> mismatches;
    int accepted = 0;
};

// Every event the client raises, in order, as text.
struct EventLog {
    explicit EventLog(TWSocket& s)
    {
        s.OnSocksConnected = [this](TCustomWSocket&, int e) { add("socksConnected " + std::to_string(e)); };
        s.OnSocksAuthState = [this](TCustomWSocket&, TSocksAuthState a) { add("auth " + std::to_string(a)); };
        s.OnSocksError = [this](TCustomWSocket&, int e, const std::string& m) {
            add("socksError " + std::to_string(e) + " " + m);
        };
        s.OnSessionConnected = [this, &s](TCustomWSocket&, int e) {
            std::string text = "connected " + std::to_string(e);
            if (!s.SocksBoundAddr().empty())
                text += " bound " + s.SocksBoundAddr() + " " + s.SocksBoundPort();
            add(text);
        };
        s.OnDataAvailable = [this](TCustomWSocket& sender, int) {
            const std::string got = sender.ReceiveStr();
            if (!got.empty())
                add("data " + got);
        };
        s.OnSessionClosed = [this](TCustomWSocket&, int e) { add("closed " + std::to_string(e)); };
    }
    void add(const std::string& e) { events.push_back(e); }
    std::vector<std::string> events;
};

struct ClientSetup {
    const char* level = "5";
    bool auth = false;
    std::string user, pass;
    std::string addr = "127.0.0.1";
};

void configure(TWSocket& client, const ClientSetup& c, const std::string& proxyPort)
{
    client.SetAddr(c.addr);
    client.SetPort("2121");
    client.SetSocksServer("127.0.0.1");
    client.SetSocksPort(proxyPort);
    client.SetSocksLevel(c.level);
    client.SocksUsercode = c.user;
    client.SocksPassword = c.pass;
    client.SocksAuthentication = c.auth ? socksAuthenticateUsercode : socksNoAuthentication;
}

class SocksTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        EXPECT_EQ(loop.watchCount(), 0u);
        EXPECT_EQ(loop.timerCount(), 0u);
    }

    // Runs one handshake against a script and returns the client's events.
    // A client that ends up connected exchanges bytes both ways through the proxy.
    std::vector<std::string> play(const ClientSetup& setup, std::vector<Step> script,
                                  const std::vector<std::string>& want)
    {
        ScriptedProxy proxy(loop, std::move(script));
        TWSocket client(loop);
        EventLog log(client);
        configure(client, setup, proxy.port());
        client.Connect();
        runUntil(loop, [&] { return log.events == want; }, 3000);
        runFor(loop, 20); // nothing more may follow
        EXPECT_TRUE(proxy.mismatches.empty()) << ::testing::PrintToString(proxy.mismatches);
        EXPECT_EQ(proxy.step, proxy.script.size()) << "script not played to its end";
        const std::vector<std::string> handshake = log.events;
        if (client.State() == wsConnected) {
            client.SendStr("ping");
            EXPECT_TRUE(runUntil(loop, [&] { return proxy.afterScript == "ping"; }, 3000));
            proxy.peer->SendStr("pong");
            EXPECT_TRUE(runUntil(loop, [&] { return !log.events.empty() && log.events.back() == "data pong"; }, 3000));
            client.Close();
        } else {
            EXPECT_EQ(client.SocksServer(), "") << "a close resets the proxy settings";
        }
        return handshake;
    }

    EventLoop loop;
};

TEST_F(SocksTest, HandshakesOfEveryLevelAndPhase)
{
    const std::string user255(255, 'u'), pass255(255, 'p');
    struct Case {
        const char* name;
        ClientSetup setup;
        std::vector<Step> script;
        std::vector<std::string> want;
    };
    const std::vector<Case> cases = {
        {"level 5 without authentication, IPv4 reply",
         {},
         {{greeting(0), bytes({5, 0})}, {level5Request("127.0.0.1"), kReplyIPv4}},
         {"socksConnected 0", "connected 0 bound 127.0.0.1 1080"}},
        {"level 5 with user/password, named reply followed by data",
         {"5", true, "bob", "secret", "ftp.example"},
         {{greeting(2), bytes({5, 2})},
          {authRequest("bob", "secret"), bytes({1, 0})},
          {level5Request("ftp.example"), bytes({5, 0, 0, 3, 9}) + "proxy.lan" + bytes({0x1f, 0x90}) + "hello"}},
         {"socksConnected 0", "auth 0", "auth 1", "connected 0 bound proxy.lan 8080", "data hello"}},
        {"level 5 user and password of 255 bytes",
         {"5", true, user255, pass255},
         {{greeting(2), bytes({5, 2})},
          {authRequest(user255, pass255), bytes({1, 0})},
          {level5Request("127.0.0.1"), kReplyIPv4}},
         {"socksConnected 0", "auth 0", "auth 1", "connected 0 bound 127.0.0.1 1080"}},
        {"level 5 proxy that needs no authentication after it was offered",
         {"5", true, "bob", "secret"},
         {{greeting(2), bytes({5, 0})}, {level5Request("127.0.0.1"), kReplyIPv4}},
         {"socksConnected 0", "auth 3", "connected 0 bound 127.0.0.1 1080"}},
        {"level 5 IPv6 bound address",
         {},
         {{greeting(0), bytes({5, 0})},
          {level5Request("127.0.0.1"), bytes({5, 0, 0, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 21})}},
         {"socksConnected 0", "connected 0 bound ::1 21"}},
        {"level 5 unknown address type",
         {},
         {{greeting(0), bytes({5, 0})}, {level5Request("127.0.0.1"), bytes({5, 0, 0, 2, 0})}},
         {"socksConnected 0", "socksError 20011 address type not supported", "connected 20011", "closed 20011"}},
        {"level 5 greeting reply of another version",
         {},
         {{greeting(0), bytes({4, 0})}},
         {"socksConnected 0", "socksError 20002 socks version error", "connected 20002", "closed 20002"}},
        {"level 5 no acceptable method",
         {"5", true, "bob", "secret"},
         {{greeting(2), bytes({5, 0xff})}},
         {"socksConnected 0", "socksError 20003 authentification method not acceptable", "connected 20003",
          "closed 20003"}},
        {"level 5 authentication reply of another version",
         {"5", true, "bob", "secret"},
         {{greeting(2), bytes({5, 2})}, {authRequest("bob", "secret"), bytes({5, 0})}},
         {"socksConnected 0", "auth 0", "socksError 20002 socks version error", "connected 20002", "auth 2",
          "closed 20002"}},
        {"level 5 authentication refused",
         {"5", true, "bob", "wrong"},
         {{greeting(2), bytes({5, 2})}, {authRequest("bob", "wrong"), bytes({1, 1})}},
         {"socksConnected 0", "auth 0", "socksError 20015 socks authentication failed", "connected 20015", "auth 2",
          "closed 20015"}},
        {"level 5 authentication reply too long",
         {"5", true, "bob", "secret"},
         {{greeting(2), bytes({5, 2})}, {authRequest("bob", "secret"), bytes({1, 0, 0})}},
         {"socksConnected 0", "auth 0", "socksError 20001 too much data availaible", "connected 20001", "auth 2",
          "closed 20001"}},
        {"level 5 proxy that closes while authenticating",
         {"5", true, "bob", "secret"},
         {{greeting(2), bytes({5, 2})}, {authRequest("bob", "secret"), "", true}},
         {"socksConnected 0", "auth 0", "auth 2", "closed 0"}},
        {"level 5 connect reply of another version",
         {},
         {{greeting(0), bytes({5, 0})}, {level5Request("127.0.0.1"), bytes({4, 0, 0, 1, 0, 0, 0, 0, 0, 0})}},
         {"socksConnected 0", "socksError 20002 socks version error", "connected 20002", "closed 20002"}},
        {"level 4 with a user id, data after the reply",
         {"4", false, "bob"},
         {{level4Request(bytes({127, 0, 0, 1}), "bob"), kLevel4Granted + "hi"}},
         {"socksConnected 0", "connected 0", "data hi"}},
        {"level 4A sends the name",
         {"4a", false, "bob", "", "ftp.example"},
         {{level4Request(bytes({0, 0, 0, 1}), "bob", "ftp.example"), kLevel4Granted}},
         {"socksConnected 0", "connected 0"}},
        {"level 4 reply of another version",
         {"4"},
         {{level4Request(bytes({127, 0, 0, 1}), ""), bytes({4, 90, 0, 0, 0, 0, 0, 0})}},
         {"socksConnected 0", "socksError 20002 socks version error", "connected 20002", "closed 20002"}},
        {"level 4 destination that cannot be resolved",
         {"4", false, "", "", std::string(300, 'h')},
         {},
         {"socksConnected 0",
          "socksError 20017 ESocketException WSocketResolveHost: '" + std::string(300, 'h') + "' Invalid Hostname.",
          "connected 20017", "closed 20017"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(play(c.setup, c.script, c.want), c.want);
    }
}

TEST_F(SocksTest, EveryReplyCodeEndsWithItsErrorAndText)
{
    struct Case {
        const char* level;
        int code;
        int error;
        const char* text;
    };
    const Case cases[] = {
        {"5", 1, 20004, "general SOCKS server failure"},
        {"5", 2, 20005, "connection not allowed by ruleset"},
        {"5", 3, 20006, "network unreachable"},
        {"5", 4, 20007, "host unreachable"},
        {"5", 5, 20008, "connection refused"},
        {"5", 6, 20009, "time to live expired"},
        {"5", 7, 20010, "command not supported"},
        {"5", 8, 20011, "address type not supported"},
        {"5", 9, 20012, "unassigned error #9"},
        {"4", 91, 20016, "request rejected or failed"},
        {"4", 92, 20008, "connection refused"},
        {"4", 93, 20015, "authentification failed"},
        {"4", 94, 20012, "unassigned error #94"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string("level ") + c.level + " code " + std::to_string(c.code));
        ClientSetup setup;
        setup.level = c.level;
        std::vector<Step> script;
        if (std::string(c.level) == "5") {
            script = {{greeting(0), bytes({5, 0})}, {level5Request("127.0.0.1"), bytes({5, c.code, 0, 1, 0, 0, 0, 0, 0, 0})}};
        } else {
            script = {{level4Request(bytes({127, 0, 0, 1}), ""), bytes({0, c.code, 0, 0, 0, 0, 0, 0})}};
        }
        const std::string code = std::to_string(c.error);
        const std::vector<std::string> want = {"socksConnected 0", "socksError " + code + " " + c.text,
                                               "connected " + code, "closed " + code};
        EXPECT_EQ(play(setup, script, want), want);
    }
}

// The reply arrives one byte at a time: the owner hears of the connection only
// when the last byte of the reply is in, and the bytes after it come next.
TEST_F(SocksTest, ReplyIsCompleteOnlyWithItsLastByte)
{
    struct Case {
        const char* level;
        std::string request;
        std::string reply;
    };
    const Case cases[] = {
        {"5", level5Request("127.0.0.1"), bytes({5, 0, 0, 3, 9}) + "proxy.lan" + bytes({0, 21})},
        {"5", level5Request("127.0.0.1"), kReplyIPv4},
        {"4", level4Request(bytes({127, 0, 0, 1}), ""), kLevel4Granted},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(hex(c.reply));
        std::vector<Step> script;
        if (std::string(c.level) == "5")
            script.push_back({greeting(0), bytes({5, 0})});
        script.push_back({c.request, ""});
        ScriptedProxy proxy(loop, script);
        TWSocket client(loop);
        EventLog log(client);
        ClientSetup setup;
        setup.level = c.level;
        configure(client, setup, proxy.port());
        client.Connect();
        ASSERT_TRUE(runUntil(loop, [&] { return proxy.step == proxy.script.size(); }));
        const std::string dribble = c.reply + "tail";
        for (std::size_t i = 0; i < dribble.size(); ++i) {
            const auto before = client.ReadCount();
            proxy.peer->SendStr(dribble.substr(i, 1));
            ASSERT_TRUE(runUntil(loop, [&] { return client.ReadCount() > before; }));
            const bool connected = log.events.size() > 1;
            EXPECT_EQ(connected, i + 1 >= c.reply.size()) << "after byte " << i + 1;
        }
        ASSERT_TRUE(runUntil(loop, [&] { return log.events.back() == "data l"; }))
            << ::testing::PrintToString(log.events);
        EXPECT_EQ(log.events[1].substr(0, 11), "connected 0");
        EXPECT_EQ((std::vector<std::string>(log.events.begin() + 2, log.events.end())),
                  (std::vector<std::string>{"data t", "data a", "data i", "data l"}));
        EXPECT_TRUE(proxy.mismatches.empty());
        client.Close();
    }
}

TEST_F(SocksTest, BytesAfterTheReplyArriveAsLinesInLineMode)
{
    ScriptedProxy proxy(loop, {{greeting(0), bytes({5, 0})}, {level5Request("127.0.0.1"), kReplyIPv4 + "one\r\ntw"}});
    TWSocket client(loop);
    EventLog log(client);
    configure(client, {}, proxy.port());
    client.SetLineMode(true);
    client.Connect();
    ASSERT_TRUE(runUntil(loop, [&] { return log.events.size() == 3; }));
    EXPECT_EQ(client.PendingBytes(), 2);
    proxy.peer->SendStr("o\r\n");
    ASSERT_TRUE(runUntil(loop, [&] { return log.events.size() == 4; }));
    EXPECT_EQ(log.events, (std::vector<std::string>{"socksConnected 0", "connected 0 bound 127.0.0.1 1080",
                                                    "data one\r\n", "data two\r\n"}));
    client.Close();
}

TEST_F(SocksTest, TooLongFieldsAreRefusedBeforeAnythingIsSent)
{
    const std::string tooLong(256, 'x');
    struct Case {
        ClientSetup setup;
        const char* text;
    };
    const Case cases[] = {
        {{"5", true, tooLong, "pass"}, "Socks user code too long (255 bytes at most)"},
        {{"5", true, "user", tooLong}, "Socks password too long (255 bytes at most)"},
        {{"5", false, "", "", tooLong}, "Socks destination name too long (255 bytes at most)"},
        {{"4A", false, "", "", tooLong}, "Socks destination name too long (255 bytes at most)"},
        {{"4", false, tooLong}, "Socks user code too long (255 bytes at most)"},
    };
    ScriptedProxy proxy(loop, {});
    for (const auto& c : cases) {
        TWSocket client(loop);
        configure(client, c.setup, proxy.port());
        try {
            client.Connect();
            ADD_FAILURE() << "no exception for " << c.text;
        } catch (const ESocketException& e) {
            EXPECT_STREQ(e.what(), c.text);
        }
        EXPECT_EQ(client.State(), wsClosed);
    }
    runFor(loop, 50);
    EXPECT_EQ(proxy.accepted, 0) << "nothing may reach the proxy";
}

TEST_F(SocksTest, RefusedProxyReportsTheErrorThroughBothEvents)
{
    std::string freePort;
    {
        ScriptedProxy probe(loop, {});
        freePort = probe.port();
    }
    TWSocket client(loop);
    EventLog log(client);
    configure(client, {}, freePort);
    client.Connect();
    ASSERT_TRUE(runUntil(loop, [&] { return log.events.size() == 3; }));
    EXPECT_EQ(log.events, (std::vector<std::string>{"socksConnected 10061", "connected 10061", "closed 0"}));
}

TEST_F(SocksTest, AfterACloseTheNextConnectGoesDirectly)
{
    ScriptedProxy proxy(loop, {{greeting(0), bytes({5, 0})}, {level5Request("127.0.0.1"), kReplyIPv4}});
    TWSocket client(loop);
    EventLog log(client);
    configure(client, {}, proxy.port());
    client.Connect();
    ASSERT_TRUE(runUntil(loop, [&] { return log.events.size() == 2; }));
    client.Close();
    EXPECT_EQ(client.SocksServer(), "");
    EXPECT_EQ(client.SocksPort(), "");
    EXPECT_EQ(client.SocksLevel(), "5");

    ScriptedProxy direct(loop, {{"hello", "welcome"}});
    client.SetAddr("127.0.0.1");
    client.SetPort(direct.port());
    log.events.clear();
    client.Connect();
    ASSERT_TRUE(runUntil(loop, [&] { return log.events.size() == 1; }));
    EXPECT_EQ(log.events[0], "connected 0") << "no SOCKS event on a direct connection";
    client.SendStr("hello");
    ASSERT_TRUE(runUntil(loop, [&] { return log.events.size() == 2; }));
    EXPECT_EQ(log.events[1], "data welcome");
    EXPECT_EQ(proxy.accepted, 1);
    EXPECT_EQ(direct.accepted, 1);
    client.Close();
}

TEST_F(SocksTest, PropertiesAndOperationsRefusedWithTheirTexts)
{
    auto expectText = [](auto action, const char* text) {
        try {
            action();
            ADD_FAILURE() << "no exception for " << text;
        } catch (const ESocketException& e) {
            EXPECT_STREQ(e.what(), text);
        }
    };
    TWSocket s(loop);
    expectText([&] { s.SetSocksLevel("6"); }, "Invalid socks level. Must be 4, 4A or 5.");
    s.SetSocksLevel("4a");
    EXPECT_EQ(s.SocksLevel(), "4A");
    s.SetSocksServer("  127.0.0.1 ");
    EXPECT_EQ(s.SocksServer(), "127.0.0.1");
    s.SetAddr("127.0.0.1");
    s.SetPort("0");
    expectText([&] { s.Listen(); }, "Listening is not supported thru socks server");
    s.SetProto("udp");
    s.SetSocksPort("1080");
    expectText([&] { s.Connect(); }, "tcp is the only protocol supported thru socks server");

    TWSocket listening(loop);
    listening.SetAddr("127.0.0.1");
    listening.SetPort("0");
    listening.Listen();
    expectText([&] { listening.SetSocksServer("10.0.0.1"); }, "Can't change socks server if not closed");
    expectText([&] { listening.SetSocksPort("1080"); }, "Can't change socks port if not closed");
    expectText([&] { listening.SetSocksLevel("4"); }, "Can't change socks level if not closed");
    listening.Close();
}

} // namespace
