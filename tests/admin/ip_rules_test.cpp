// The connect-time IP decision: entry matching, the Allow and Deny modes with
// their log lines, and the check as a real server runs it.

#include "admin/ip_rules.h"
#include "support/line_client.h"
#include "support/sandbox.h"

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace vesk2::admin {
namespace {

using settings::Colour;
using settings::LogLine;
using test::LineClient;
using test::runFor;
using test::runUntil;

class FixedClock : public settings::LogClock {
public:
    std::tm localNow() const override { return std::tm{}; }
};

class IpRulesTest : public test::Sandbox {
protected:
    settings::Settings m_settings;
    settings::LogWindowModel m_clientWindow;
    settings::LogWindowModel m_serverWindow;
    FixedClock m_clock;
    settings::LogWriter m_log{m_settings, m_clientWindow, m_serverWindow, m_clock};

    std::vector<std::string> logTexts() const
    {
        std::vector<std::string> out;
        for (const LogLine& line : m_serverWindow.lines())
            out.push_back(line.text);
        return out;
    }
    std::size_t logged(const std::string& start) const
    {
        const auto texts = logTexts();
        return static_cast<std::size_t>(
            std::count_if(texts.begin(), texts.end(), [&](const std::string& t) { return t.starts_with(start); }));
    }
    IpList listOf(const std::vector<std::string>& entries)
    {
        IpList list(dir(), kIpListFile);
        for (const std::string& e : entries)
            EXPECT_EQ(list.add(e), AddResult::Added) << e;
        return list;
    }
};

TEST(IpEntryMatch, ThePrefixBeforeTheFirstStarBeginsTheAddress)
{
    struct Case {
        const char* entry;
        const char* address;
        bool want;
    };
    const Case cases[] = {
        {"10.1.", "10.1.2.3", true},
        {"10.1.", "10.10.0.1", false},
        {"192.168.*", "192.168.4.5", true},
        {"192.168.", "192.168.4.5", true},
        {"192.168.*", "192.169.4.5", false},
        {"10.0.0.1", "10.0.0.12", true},
        {"10.0.0.12", "10.0.0.1", false},
        {"10.*.0.1", "10.200.9.9", true},
        {"*", "8.8.8.8", true},
        {"*", "127.0.0.1", true},
        {"127.0.0.1", "127.0.0.1", true},
        {"example.com", "93.184.216.34", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ipEntryMatches(c.entry, c.address), c.want) << c.entry << " vs " << c.address;
    EXPECT_EQ(ipEntryPrefix("192.168.*.1*"), "192.168.");
}

TEST(IpListModeTest, DenyOnlyWhenDenyIsOn)
{
    struct Case {
        bool allow, deny;
        IpListMode want;
    };
    const Case cases[] = {{true, false, IpListMode::Allow},
                          {false, true, IpListMode::Deny},
                          {false, false, IpListMode::Allow},
                          {true, true, IpListMode::Deny}};
    for (const Case& c : cases) {
        settings::Settings s;
        s.Allow = c.allow;
        s.Deny = c.deny;
        EXPECT_EQ(ipListMode(s), c.want) << c.allow << c.deny;
    }
}

TEST_F(IpRulesTest, DecisionsAndTheirLogLines)
{
    struct Case {
        const char* name;
        IpListMode mode;
        std::vector<std::string> entries;
        const char* address;
        bool admitted;
        std::size_t matches;
    };
    const Case cases[] = {
        {"empty list, allow mode", IpListMode::Allow, {}, "1.2.3.4", true, 0},
        {"empty list, deny mode", IpListMode::Deny, {}, "1.2.3.4", true, 0},
        {"allowed range", IpListMode::Allow, {"10.1."}, "10.1.2.3", true, 1},
        {"outside the allowed range", IpListMode::Allow, {"10.1."}, "10.10.0.1", false, 0},
        {"two denials", IpListMode::Deny, {"10.", "9.", "10.0.*"}, "10.0.0.5", false, 2},
        {"not denied", IpListMode::Deny, {"10.", "9."}, "11.0.0.5", true, 0},
        {"star denies all", IpListMode::Deny, {"*"}, "172.16.0.1", false, 1},
        {"star allows all", IpListMode::Allow, {"*"}, "172.16.0.1", true, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        settings::LogWindowModel serverWindow;
        settings::LogWindowModel clientWindow;
        settings::LogWriter log(m_settings, clientWindow, serverWindow, m_clock);
        const IpList list = listOf(c.entries);
        EXPECT_EQ(checkConnection(list, c.mode, c.address, "2121", log), c.admitted);

        std::vector<LogLine> want{{std::string("Connect from ") + c.address + ":2121", settings::clGreen}};
        for (std::size_t i = 0; i < c.matches; ++i)
            want.push_back(c.mode == IpListMode::Deny ? LogLine{kMatchedDeniedText, settings::clTeal}
                                                      : LogLine{kMatchedAllowedText, settings::clLime});
        if (!c.admitted)
            want.push_back({std::string("Denied Access For ") + c.address + ":2121 because of IP Allow/Deny rules",
                            settings::clRed});
        EXPECT_EQ(std::vector<LogLine>(serverWindow.lines().begin(), serverWindow.lines().end()), want);
        EXPECT_TRUE(clientWindow.lines().empty());
    }
}

TEST_F(IpRulesTest, MatchedLinesCarryThePeerAsTheirAddress)
{
    m_settings.LogIPs = true;
    const IpList list = listOf({"10."});
    EXPECT_FALSE(checkConnection(list, IpListMode::Deny, "10.0.0.9", "40000", m_log));
    EXPECT_EQ(logged(std::string("10.0.0.9:40000 ") + kMatchedDeniedText), 1u);
}

TEST_F(IpRulesTest, PeerTextInTheLogIsPrintable)
{
    m_settings.LogIPs = true;
    const IpList list = listOf({"*"});
    EXPECT_FALSE(checkConnection(list, IpListMode::Deny, "10.0.0.1\r\n\x1b[2J\x7f", "21\n\x9b", m_log));
    ASSERT_EQ(m_serverWindow.lines().size(), 3u);
    for (const std::string& text : logTexts()) {
        EXPECT_TRUE(std::none_of(text.begin(), text.end(), [](char c) {
            const auto u = static_cast<unsigned char>(c);
            return u < 0x20 || u == 0x7f;
        })) << text;
        EXPECT_EQ(text.find("\x9b"), std::string::npos) << "a lone C1 byte: " << text;
    }
    EXPECT_EQ(logTexts()[0].rfind("Connect from 10.0.0.1", 0), 0u);
}

TEST_F(IpRulesTest, EntriesBeyondTheLimitAreNotInForce)
{
    std::string bytes;
    for (std::size_t i = 0; i < kMaxListEntries; ++i)
        bytes += "10.0." + std::to_string(i) + ".\r\n";
    writeFile(kIpListFile, bytes + "*\r\n");
    IpList list(dir(), kIpListFile);
    list.load();
    ASSERT_EQ(list.size(), kMaxListEntries + 1);
    EXPECT_TRUE(checkConnection(list, IpListMode::Deny, "192.168.1.1", "21", m_log));
}

// The check attached to a real server on 127.0.0.1.
class ClientConnectTest : public IpRulesTest {
protected:
    void SetUp() override
    {
        IpRulesTest::SetUp();
        m_server = std::make_unique<ftpserver::TFtpServer>(m_loop);
        m_server->Addr = "127.0.0.1";
        m_server->Port = "0";
        m_server->Banner = "220 VESK Server ready.";
        m_check.attach(*m_server);
        m_server->Start();
        m_port = m_server->ListeningPort();
    }
    void TearDown() override
    {
        m_server.reset();
        runFor(m_loop, 10);
        EXPECT_EQ(m_loop.watchCount(), 0u) << "sockets left on the loop";
        IpRulesTest::TearDown();
    }
    // Connects and waits until the server has decided (a greeting or a close).
    std::unique_ptr<LineClient> connect(std::size_t lines)
    {
        auto c = std::make_unique<LineClient>(m_loop, m_port);
        EXPECT_TRUE(lines == 0 ? c->waitClosed() : c->waitLines(lines));
        return c;
    }

    net::EventLoop m_loop;
    IpList m_list{"/unused/", kIpListFile}; // filled in memory only
    ServerMessages m_messages{m_settings, {}};
    ClientConnectCheck m_check{m_list, m_settings, m_log, m_messages};
    std::unique_ptr<ftpserver::TFtpServer> m_server;
    std::string m_port;
};

TEST_F(ClientConnectTest, ADeniedAddressIsClosedWithoutAWord)
{
    m_settings.setDeny(true);
    m_list.add("127.0.0.");
    auto c = connect(0);
    runFor(m_loop, 20);
    EXPECT_TRUE(c->lines.empty());
    EXPECT_TRUE(runUntil(m_loop, [&] { return m_server->SessionCount() == 0; }));
    EXPECT_EQ(logged("Denied Access For 127.0.0.1:"), 1u);
    EXPECT_EQ(logged(kMatchedDeniedText), 1u);
}

TEST_F(ClientConnectTest, AllowModeRefusesAddressesNotListed)
{
    m_list.add("10.1.");
    auto refused = connect(0);
    EXPECT_TRUE(refused->lines.empty());

    m_list.add("127.0.0.1");
    auto admitted = connect(1);
    EXPECT_EQ(admitted->lines, std::vector<std::string>{"220 VESK Version 2.0.7.337"});
    EXPECT_FALSE(admitted->closed);
    EXPECT_EQ(logged(kMatchedAllowedText), 1u);
    EXPECT_EQ(logged("Connect from 127.0.0.1:"), 2u);
}

TEST_F(ClientConnectTest, TheConnectMessageComesBeforeTheGreeting)
{
    writeFile("connect.txt", "Welcome\r\n\r\nto vesk2\n");
    m_settings.ConnectMessage = path("connect.txt");
    auto c = connect(4);
    EXPECT_EQ(c->lines, (std::vector<std::string>{"220-Welcome", "220-", "220-to vesk2", "220 VESK Version 2.0.7.337"}));

    // Read at every connection: a message removed since is simply not sent.
    std::filesystem::remove(path("connect.txt"));
    auto later = connect(1);
    EXPECT_EQ(later->lines, std::vector<std::string>{"220 VESK Version 2.0.7.337"});
}

TEST_F(ClientConnectTest, OneTooManyHearsOnlyTheRefusal)
{
    writeFile("connect.txt", "Welcome\r\n");
    m_settings.ConnectMessage = path("connect.txt");
    m_server->MaxClients = 1;
    auto first = connect(2);
    EXPECT_EQ(first->lines, (std::vector<std::string>{"220-Welcome", "220 VESK Version 2.0.7.337"}));
    auto second = std::make_unique<LineClient>(m_loop, m_port);
    EXPECT_TRUE(second->waitClosed());
    EXPECT_EQ(second->lines, std::vector<std::string>{"421 Too many users connected."});
}

} // namespace
} // namespace vesk2::admin
