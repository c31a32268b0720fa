#pragma once
// The headless program: the server with its settings, logs, accounts, lists and
// monitor, put together as the main window puts them together, without a
// window. Log lines go to standard output (coloured on a terminal) and to the
// log files the settings name.
//
// Edits made on disk while it runs are never lost: logins read the account
// working files at every login, and the server lists are reloaded whenever
// their files change (every few seconds), and saved at shut-down only where
// they differ from the file.

#include "admin/account_editor.h"
#include "admin/ip_rules.h"
#include "admin/server_administration.h"
#include "admin/server_lists.h"
#include "admin/server_messages.h"
#include "admin/server_monitor.h"
#include "admin/session_table.h"
#include "app/command_line.h"
#include "app/headless_ui.h"
#include "ftpserver/ftp_server.h"
#include "net/event_loop.h"
#include "settings/log_window_model.h"
#include "settings/log_writer.h"
#include "settings/settings.h"
#include "settings/settings_file.h"
#include "settings/stream_log_sink.h"

#include <memory>
#include <ostream>
#include <string>

namespace vesk2::app {

class HeadlessServer : public net::EventTarget {
public:
    // `programDir` ends in "/"; `out` receives the server log lines.
    HeadlessServer(net::EventLoop& loop, const CommandLine& options, const std::string& programDir, std::ostream& out);
    ~HeadlessServer() override;

    // The start-up: settings, logs, accounts, lists, monitor, then the server.
    // Returns false with a message when the server cannot serve.
    bool start(std::string& error);
    // The shut-down: stops the server, closes every session, saves the lists.
    void stop();

    // Reloads the server lists whose files changed on disk (the timer calls it).
    void reloadLists();

    ftpserver::TFtpServer& server() { return m_server; }
    const settings::Settings& options() const { return m_settings; }

protected:
    void onTimer(int timerId) override;

private:
    void log(const std::string& text, settings::Colour colour);

    const CommandLine& m_options;
    std::string m_programDir;
    settings::Settings m_settings;
    settings::SettingsFile m_settingsFile;
    settings::LogWindowModel m_clientWindow;
    settings::LogWindowModel m_serverWindow;
    settings::StreamLogSink m_stdout;
    settings::SystemLogClock m_clock;
    HeadlessUi m_ui;
    settings::LogWriter m_log;
    ftpserver::TFtpServer m_server;
    admin::AccountEditor m_accounts;
    admin::ServerLists m_lists;
    admin::ServerMessages m_messages;
    admin::SessionTable m_sessions;
    admin::ServerMonitor m_monitor;
    admin::ServerAdministration m_administration;
    admin::ClientConnectCheck m_connectCheck;
    int m_listTimer = 0;
};

// How often the server lists are compared with their files.
inline constexpr int kListReloadIntervalMs = 5000;

} // namespace vesk2::app
