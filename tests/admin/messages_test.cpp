// The connect, login and logout message files: reading, the start-up clean-up,
// and the login and logout lines as a real server sends them.

#include "admin/server_messages.h"
#include "ftpserver/ftp_server.h"
#include "support/line_client.h"
#include "support/sandbox.h"

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace vesk2::admin {
namespace {

using test::LineClient;
using test::runFor;
using test::runUntil;

class MessagesTest : public test::Sandbox {};

TEST_F(MessagesTest, LinesOfAMessageFile)
{
    struct Case {
        const char* bytes;
        std::vector<std::string> want;
    };
    const Case cases[] = {
        {"one\r\ntwo\n", {"one", "two"}},
        {"one\r\n\r\nthree", {"one", "", "three"}},
        {"\r\n", {""}},
        {"", {}},
        {"tab\tand  blanks  \r\n", {"tab\tand  blanks  "}},
    };
    for (const Case& c : cases) {
        writeFile("motd.txt", c.bytes);
        EXPECT_EQ(readMessageLines(path("motd.txt")), c.want) << c.bytes;
    }
    EXPECT_TRUE(readMessageLines(path("missing.txt")).empty());
    EXPECT_TRUE(readMessageLines("").empty());
    EXPECT_TRUE(readMessageLines(dir()).empty()) << "a directory";
    EXPECT_TRUE(readMessageLines("/dev/zero").empty()) << "a device";
}

TEST_F(MessagesTest, OnlyWholeLinesWithinTheLimitAreRead)
{
    const std::string line(99, 'x');
    std::string bytes;
    while (bytes.size() <= kMaxMessageFileBytes + 1000)
        bytes += line + "\n";
    writeFile("big.txt", bytes);
    const std::vector<std::string> lines = readMessageLines(path("big.txt"));
    EXPECT_EQ(lines.size(), kMaxMessageFileBytes / 100);
    for (const std::string& l : lines)
        ASSERT_EQ(l, line);
}

TEST_F(MessagesTest, RelativeOptionsAreTakenFromTheProgramDirectory)
{
    struct Case {
        const char* option;
        const char* programDir;
        const char* want;
    };
    const Case cases[] = {
        {"", "/home/u/.config/vesk2/", ""},
        {"motd.txt", "/home/u/.config/vesk2/", "/home/u/.config/vesk2/motd.txt"},
        {"msg/motd.txt", "/p", "/p/msg/motd.txt"},
        {"/etc/motd", "/p/", "/etc/motd"},
        {"motd.txt", "", "motd.txt"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(messageFilePath(c.option, c.programDir), c.want) << c.option;
}

TEST_F(MessagesTest, StartUpClearsOptionsWhoseFileIsMissing)
{
    writeFile("login.txt", "hi\r\n");
    settings::Settings s;
    s.LoginMessage = "login.txt";          // relative, exists in the program directory
    s.LogoutMessage = path("gone.txt");     // missing
    s.ConnectMessage = dir();               // a directory is no message file
    EXPECT_EQ(clearMissingMessageFiles(s, dir()), 2);
    EXPECT_EQ(s.LoginMessage, "login.txt");
    EXPECT_EQ(s.LogoutMessage, "");
    EXPECT_EQ(s.ConnectMessage, "");
    EXPECT_EQ(clearMissingMessageFiles(s, dir()), 0);
}

TEST(MessagePrefixes, EachKindHasItsReplyCode)
{
    EXPECT_STREQ(messagePrefix(MessageKind::Connect), "220-");
    EXPECT_STREQ(messagePrefix(MessageKind::Login), "230-");
    EXPECT_STREQ(messagePrefix(MessageKind::Logout), "221-");
    settings::Settings s;
    messageOption(s, MessageKind::Login) = "a";
    messageOption(s, MessageKind::Logout) = "b";
    messageOption(s, MessageKind::Connect) = "c";
    EXPECT_EQ(s.LoginMessage + s.LogoutMessage + s.ConnectMessage, "abc");
}

// A real server whose owner sends the login message from OnAuthenticate and
// the logout message from OnClientCommand, as the main window does.
class MessageServerTest : public test::Sandbox {
protected:
    void SetUp() override
    {
        test::Sandbox::SetUp();
        m_messages = std::make_unique<ServerMessages>(m_settings, dir());
        m_server = std::make_unique<ftpserver::TFtpServer>(m_loop);
        m_server->Addr = "127.0.0.1";
        m_server->Port = "0";
        m_server->Banner = "220 VESK Server ready.";
        m_server->OnAuthenticate = [this](ftpserver::TFtpServer&, ftpserver::TFtpCtrlSocket& client,
                                          const std::string&, const std::string& password, bool& authenticated) {
            authenticated = password == "secret";
            if (authenticated)
                m_messages->sendLoginMessage(client);
        };
        m_server->OnClientCommand = [this](ftpserver::TFtpServer&, ftpserver::TFtpCtrlSocket& client,
                                           std::string& keyword, std::string&, std::string&) {
            m_messages->sendLogoutMessage(client, keyword);
        };
        m_server->Start();
    }
    void TearDown() override
    {
        m_server.reset();
        runFor(m_loop, 10);
        EXPECT_EQ(m_loop.watchCount(), 0u) << "sockets left on the loop";
        test::Sandbox::TearDown();
    }
    std::unique_ptr<LineClient> connect()
    {
        auto c = std::make_unique<LineClient>(m_loop, m_server->ListeningPort());
        EXPECT_TRUE(c->waitLines(1));
        return c;
    }
    // The lines that arrive for one command, up to and including its final reply.
    std::vector<std::string> exchange(LineClient& c, const std::string& line, const std::string& finalCode)
    {
        const std::size_t before = c.lines.size();
        c.send(line + "\r\n");
        runUntil(m_loop, [&] {
            return c.lines.size() > before && c.lines.back().rfind(finalCode + " ", 0) == 0;
        });
        return {c.lines.begin() + static_cast<std::ptrdiff_t>(before), c.lines.end()};
    }

    settings::Settings m_settings;
    net::EventLoop m_loop;
    std::unique_ptr<ServerMessages> m_messages;
    std::unique_ptr<ftpserver::TFtpServer> m_server;
};

TEST_F(MessageServerTest, LoginLinesPrecedeTheLoginReply)
{
    writeFile("login.txt", "Hello bob\r\nBe nice\r\n");
    m_settings.LoginMessage = "login.txt";
    auto c = connect();
    EXPECT_EQ(c->command("USER bob"), "331 Password required for bob.");
    EXPECT_EQ(exchange(*c, "PASS wrong", "530"), std::vector<std::string>{"530 Login incorrect."});
    EXPECT_EQ(c->command("USER bob"), "331 Password required for bob.");
    EXPECT_EQ(exchange(*c, "PASS secret", "230"),
              (std::vector<std::string>{"230-Hello bob", "230-Be nice", "230 User bob logged in."}));
}

TEST_F(MessageServerTest, LogoutLinesPrecedeTheGoodbyeOnlyForQuit)
{
    writeFile("logout.txt", "See you\n");
    m_settings.LogoutMessage = path("logout.txt");
    auto c = connect();
    EXPECT_EQ(exchange(*c, "NOOP", "200").size(), 1u) << "no logout lines for other commands";
    EXPECT_EQ(exchange(*c, "quit", "221"), (std::vector<std::string>{"221-See you", "221 Goodbye."}));
    EXPECT_TRUE(c->waitClosed());
}

TEST_F(MessageServerTest, NoOptionNoLines)
{
    auto c = connect();
    c->command("USER bob");
    EXPECT_EQ(exchange(*c, "PASS secret", "230"), std::vector<std::string>{"230 User bob logged in."});
    EXPECT_EQ(exchange(*c, "QUIT", "221"), std::vector<std::string>{"221 Goodbye."});
}

} // namespace
} // namespace vesk2::admin
