#pragma once
// A real server on 127.0.0.1 with the whole policy attached, real account
// files in the sandbox, and a way to get the server's session object for a
// connected test client, so that the attached handlers can be driven directly.

#include "admin/account_store.h"
#include "admin/server_administration.h"
#include "admin/server_monitor.h"
#include "admin/session_table.h"
#include "ftpserver/ftp_server.h"
#include "settings/log_window_model.h"
#include "settings/log_writer.h"
#include "settings/settings.h"
#include "support/line_client.h"
#include "support/sandbox.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace vesk2::admin::testing {

class FixedLogClock : public settings::LogClock {
public:
    std::tm localNow() const override { return std::tm{}; }
};

class PolicyFixture : public test::Sandbox {
protected:
    void SetUp() override
    {
        Sandbox::SetUp();
        settings.VerboseLogging = true; // every protocol line reaches the window
        settings.ServerPort = "0";
        store = std::make_unique<AccountStore>(dir());
        server = std::make_unique<ftpserver::TFtpServer>(loop);
        server->Addr = "127.0.0.1";
        log = std::make_unique<settings::LogWriter>(settings, clientLog, serverLog, logClock);
        monitor = std::make_unique<ServerMonitor>(loop, *server, sessions, settings, *log, [this] { return now; });
        admin = std::make_unique<ServerAdministration>(*store, settings, *log, sessions, *monitor);
        admin->attach(*server);
        ASSERT_EQ(monitor->startServer(), "");
        port = server->ListeningPort();
    }

    void TearDown() override
    {
        clients.clear();
        admin.reset();
        monitor.reset();
        server.reset();
        test::runFor(loop, 10);
        EXPECT_EQ(loop.watchCount(), 0u) << "sockets left on the loop";
        EXPECT_EQ(loop.timerCount(), 0u) << "timers left on the loop";
        Sandbox::TearDown();
    }

    // Connects a test client; returns the server's session for it.
    ftpserver::TFtpCtrlSocket& connect()
    {
        clients.push_back(std::make_unique<test::LineClient>(loop, port));
        EXPECT_TRUE(clients.back()->waitLines(1)) << "no greeting";
        return *server->Clients().back();
    }
    test::LineClient& lastClient() { return *clients.back(); }

    static UserRecord user(const std::string& name, const std::string& password)
    {
        UserRecord u;
        u.UserName.assign(name);
        u.Password.assign(password);
        u.Enabled = true;
        return u;
    }
    static GroupRecord group(const std::string& name)
    {
        GroupRecord g;
        g.GroupName.assign(name);
        g.Enabled = true;
        return g;
    }
    static AccessEntry entry(const std::string& path, std::initializer_list<Right> rights)
    {
        AccessEntry e;
        e.Path.assign(path);
        for (Right r : rights)
            e.setRight(r, true);
        return e;
    }
    void addUser(const UserRecord& u) { ASSERT_EQ(store->users().append(u), ""); }
    void addGroup(const GroupRecord& g) { ASSERT_EQ(store->groups().append(g), ""); }

    // Raises the server's OnAuthenticate as the PASS handler does.
    bool login(ftpserver::TFtpCtrlSocket& client, const std::string& name, const std::string& password)
    {
        bool authenticated = true;
        client.UserName = name;
        server->OnAuthenticate(*server, client, name, password, authenticated);
        return authenticated;
    }

    bool serverLogHas(const std::string& text) const
    {
        return std::any_of(serverLog.lines().begin(), serverLog.lines().end(),
                           [&](const settings::LogLine& l) { return l.text.find(text) != std::string::npos; });
    }
    const settings::LogLine* serverLogLine(const std::string& text) const
    {
        for (const auto& l : serverLog.lines())
            if (l.text.find(text) != std::string::npos)
                return &l;
        return nullptr;
    }
    void makeDir(const std::string& name) { std::filesystem::create_directories(path(name)); }

    net::EventLoop loop;
    settings::Settings settings;
    settings::LogWindowModel clientLog;
    settings::LogWindowModel serverLog;
    FixedLogClock logClock;
    platform::TimePoint now{};
    std::unique_ptr<AccountStore> store;
    SessionTable sessions;
    std::unique_ptr<ftpserver::TFtpServer> server;
    std::unique_ptr<settings::LogWriter> log;
    std::unique_ptr<ServerMonitor> monitor;
    std::unique_ptr<ServerAdministration> admin;
    std::string port;
    std::vector<std::unique_ptr<test::LineClient>> clients;
};

} // namespace vesk2::admin::testing
