#include "app/headless_server.h"

#include "platform/terminal.h"

namespace vesk2::app {

using settings::Colour;
using settings::LogTarget;

HeadlessServer::HeadlessServer(net::EventLoop& loop, const CommandLine& options, const std::string& programDir,
                               std::ostream& out)
    : net::EventTarget(loop),
      m_options(options),
      m_programDir(programDir),
      m_settingsFile(settings::settingsFilePath(programDir, options.rest.empty()
                                                                ? std::optional<std::string>()
                                                                : std::optional<std::string>(options.rest.front()))),
      m_stdout(out, platform::standardOutputIsTerminal()),
      m_ui([this](const std::string& text) { log(text, settings::clRed); }),
      m_log(m_settings, m_clientWindow, m_serverWindow, m_clock, &m_ui, programDir),
      m_server(loop),
      m_accounts(programDir, m_ui),
      m_lists(programDir),
      m_messages(m_settings, programDir),
      m_monitor(loop, m_server, m_sessions, m_settings, m_log),
      m_administration(m_accounts.store(), m_settings, m_log, m_sessions, m_monitor),
      m_connectCheck(m_lists.ipList(), m_settings, m_log, m_messages)
{
    // Only the server log is shown: the client side does not run headless.
    m_serverWindow.setSink(&m_stdout);
}

HeadlessServer::~HeadlessServer()
{
    m_serverWindow.setSink(nullptr);
}

void HeadlessServer::log(const std::string& text, Colour colour) { m_log.Log(LogTarget::Server, text, colour); }

bool HeadlessServer::start(std::string& error)
{
    m_settingsFile.load(m_settings);
    m_log.resetPreparedFiles();
    m_log.Log(LogTarget::Both, std::string("Application Initialization Begin - ") + admin::kVersionString,
              settings::clBlack);
    m_log.Log(LogTarget::Both, "PATH = " + m_programDir, settings::clGreen);
    if (!m_settingsFile.pendingMessage().empty())
        m_log.Log(LogTarget::Both, m_settingsFile.pendingMessage(), settings::clPurple);
    for (const auto& problem : m_settingsFile.problems())
        log(problem, settings::clRed);

    m_sessions.clear();
    m_accounts.startUp();
    for (const auto& problem : m_lists.load())
        log(problem, settings::clRed);
    admin::clearMissingMessageFiles(m_settings, m_programDir);
    admin::rebuildTables(m_lists, m_server.VirtualDirs, m_server.PermanentLinks);

    m_server.Banner = "220 VESK Server ready.";
    m_server.Addr = m_options.bindAddr;
    m_server.WorkFilesDir = m_programDir;
    m_administration.attach(m_server);
    m_connectCheck.attach(m_server);
    m_administration.OnLogoutMessage = [this](ftpserver::TFtpServer&, ftpserver::TFtpCtrlSocket& client) {
        m_messages.sendLogoutMessage(client, "QUIT");
    };
    m_monitor.startUp();
    m_listTimer = Loop().startTimer(*this, kListReloadIntervalMs);

    // The command line's port wins over the settings file's, and asks for the
    // server whatever StartServerOnStartUp says.
    if (m_options.port)
        m_settings.ServerPort = *m_options.port;
    if (!m_settings.StartServerOnStartUp && !m_options.port) {
        error = "the server is not set to start (StartServerOnStartUp in " + m_settingsFile.path() +
                "); give --port N to start it anyway";
        return false;
    }
    error = m_monitor.startServer();
    return error.empty();
}

void HeadlessServer::reloadLists()
{
    if (m_lists.reloadIfChanged()) {
        admin::rebuildTables(m_lists, m_server.VirtualDirs, m_server.PermanentLinks);
        log("Server lists reloaded: their files changed on disk", settings::clBlue);
    }
}

void HeadlessServer::onTimer(int timerId)
{
    if (timerId == m_listTimer)
        reloadLists();
}

void HeadlessServer::stop()
{
    if (m_listTimer) {
        Loop().stopTimer(m_listTimer);
        m_listTimer = 0;
    }
    m_monitor.stopServer();
    m_monitor.kickAllUsers();
    for (const auto& failure : m_lists.save())
        log(failure, settings::clRed);
    m_accounts.shutDown();
    m_administration.detach();
}

} // namespace vesk2::app
