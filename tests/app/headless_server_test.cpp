#include "app/account_commands.h"
#include "app/headless_server.h"
#include "app/list_commands.h"
#include "support/line_client.h"
#include "support/sandbox.h"

#include <gtest/gtest.h>

#include <sstream>

using namespace vesk2;
using test::LineClient;
using test::runUntil;

namespace {

class HeadlessServerTest : public test::Sandbox {
protected:
    void SetUp() override
    {
        test::Sandbox::SetUp();
        writeFile("root/file.txt", "content");
        std::ostringstream quiet;
        ASSERT_EQ(app::runAccountCommand({"user", "add", "bob", "--password", "pw", "--home", path("root"),
                                          "--enabled", "on"},
                                         dir(), quiet, quiet),
                  0)
            << quiet.str();
        ASSERT_EQ(app::runAccountCommand({"user", "access", "bob", "add", path("root"), "--rights", "RL"}, dir(),
                                         quiet, quiet),
                  0)
            << quiet.str();
        options.port = "0";
        options.bindAddr = "127.0.0.1";
    }
    std::unique_ptr<app::HeadlessServer> startServer()
    {
        auto server = std::make_unique<app::HeadlessServer>(loop, options, dir(), out);
        std::string error;
        EXPECT_TRUE(server->start(error)) << error;
        return server;
    }
    std::string port(app::HeadlessServer& server) { return server.server().ListeningPort(); }

    net::EventLoop loop;
    app::CommandLine options;
    std::ostringstream out;
};

TEST_F(HeadlessServerTest, StartsUpLikeTheWindowAndServesRealAccounts)
{
    auto server = startServer();
    EXPECT_NE(out.str().find("Application Initialization Begin - VESK Version 2.0.7.337"), std::string::npos);
    EXPECT_NE(out.str().find("vesk2.ini not found."), std::string::npos) << "the settings file is made on first start";
    EXPECT_TRUE(std::filesystem::exists(path("vesk2.ini")));
    EXPECT_EQ(server->server().MaxClients, 3);

    LineClient c(loop, port(*server));
    ASSERT_TRUE(c.waitLines(1));
    EXPECT_EQ(c.lines[0], "220 VESK Version 2.0.7.337");
    EXPECT_EQ(c.command("USER bob"), "331 Password required for bob.");
    EXPECT_EQ(c.command("PASS pw"), "230 User bob logged in.");
    EXPECT_EQ(c.command("SIZE file.txt"), "213 7");
    EXPECT_NE(c.command("DELE file.txt").substr(0, 3), "250") << "bob has no Delete right";
    EXPECT_TRUE(std::filesystem::exists(path("root/file.txt")));
    EXPECT_NE(out.str().find("PASS *************"), std::string::npos) << "passwords are masked in the log";
    EXPECT_EQ(out.str().find("PASS pw"), std::string::npos);
    server->stop();
}

TEST_F(HeadlessServerTest, ListEditsOnDiskReachTheRunningServerAndSurviveShutDown)
{
    std::ostringstream quiet;
    ASSERT_EQ(app::runListCommand({"list", "ip", "mode", "deny"}, dir(), quiet, quiet), 0) << quiet.str();
    auto server = startServer();
    LineClient admitted(loop, port(*server));
    ASSERT_TRUE(admitted.waitLines(1));
    ASSERT_EQ(app::runListCommand({"list", "ip", "add", "127.0.0.1"}, dir(), quiet, quiet), 0) << quiet.str();
    server->reloadLists();
    // In deny mode a listed address hears nothing and is closed.
    LineClient refused(loop, port(*server));
    EXPECT_TRUE(refused.waitClosed());
    EXPECT_TRUE(refused.lines.empty());

    ASSERT_EQ(app::runListCommand({"list", "vdir", "add", path("root"), "pub"}, dir(), quiet, quiet), 0);
    server->stop();
    server.reset();
    EXPECT_NE(readFile("ipdenials.dat").find("127.0.0.1"), std::string::npos) << "shut-down kept the edit";
    EXPECT_NE(readFile("virtmaps.dat").find("/pub/"), std::string::npos) << "a late edit is kept too";
}

TEST_F(HeadlessServerTest, RefusesToIdleWhenTheServerIsNotSetToStart)
{
    options.port.reset();
    app::HeadlessServer server(loop, options, dir(), out);
    std::string error;
    EXPECT_FALSE(server.start(error));
    EXPECT_NE(error.find("StartServerOnStartUp"), std::string::npos) << error;
    server.stop();
}

TEST_F(HeadlessServerTest, ABusyPortIsReportedNotFatal)
{
    auto first = startServer();
    options.port = port(*first);
    app::HeadlessServer second(loop, options, dir(), out);
    std::string error;
    EXPECT_FALSE(second.start(error));
    EXPECT_NE(error.find("10048"), std::string::npos) << error;
    second.stop();
    first->stop();
}

} // namespace
