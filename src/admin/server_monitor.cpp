#include "admin/server_monitor.h"

#include "ftpserver/ftp_server.h"

#include <charconv>
#include <chrono>
#include <cstdio>

namespace vesk2::admin {

namespace {

using settings::LogTarget;

constexpr const char* kStartedText = "FTP Server Started listening on port ";
constexpr const char* kStoppedText = "FTP Server Started stopped.  No longer listening on ";
constexpr const char* kCleanDisconnect = "Clean Disconnect from ";
constexpr const char* kComplete = " (complete)";
constexpr const char* kUploadSpeedUnit = " Kb/sec";

constexpr std::int64_t kMsPerDay = 24LL * 3600 * 1000;

} // namespace

double ElapsedSeconds(platform::TimePoint start, platform::TimePoint now)
{
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now - start).count();
    const std::int64_t wrapped = ((ms % kMsPerDay) + kMsPerDay) % kMsPerDay;
    return static_cast<double>(wrapped) / 1000.0;
}

std::string SpeedText(std::int64_t bytes, double seconds)
{
    if (seconds == 0.0)
        return std::to_string(bytes);
    if (bytes < 1)
        return "0";
    char text[64];
    std::snprintf(text, sizeof text, "%.2f", static_cast<double>(bytes) / seconds / 1024.0);
    return text;
}

const std::array<const char*, 7>& connectionColumns()
{
    static const std::array<const char*, 7> columns{"ID",          "User Name", "IP Address", "Action",
                                                    "File/Location", "Progress", "Speed"};
    return columns;
}

std::string peerAddressText(const ftpserver::TFtpCtrlSocket& client)
{
    return client.GetPeerAddr() + ":" + client.GetPeerPortText();
}

ServerMonitor::ServerMonitor(net::EventLoop& loop, ftpserver::TFtpServer& server, SessionTable& sessions,
                             settings::Settings& settings, settings::LogWriter& log, NowFunction now)
    : net::EventTarget(loop),
      m_server(server),
      m_sessions(sessions),
      m_settings(settings),
      m_log(log),
      m_now(std::move(now))
{
}

ServerMonitor::~ServerMonitor() { stopIdleTimer(); }

void ServerMonitor::startUp()
{
    m_sessions.clear();
    std::string ignored;
    maximumConcurrentUsersChanged(m_settings.MaximumConcurrentUsers, ignored);
    setIdleTimeout(m_settings.IdleTimeout);
    refresh();
}

// ---- actions ----------------------------------------------------------------------

std::string ServerMonitor::startServer()
{
    m_server.Port = m_settings.ServerPort;
    try {
        m_server.Start();
    } catch (const std::exception& e) {
        const std::string error = e.what();
        m_log.Log(LogTarget::Server, "Cannot start the FTP server on port " + m_server.Port + ": " + error,
                  settings::clRed);
        refresh();
        return error.empty() ? std::string("cannot listen") : error;
    }
    return {};
}

void ServerMonitor::stopServer() { m_server.Stop(); }

void ServerMonitor::kickAllUsers()
{
    if (m_server.SessionCount() < 1)
        return;
    m_server.DropAllClients();
    refresh();
}

void ServerMonitor::setIdleTimeout(bool on)
{
    m_settings.IdleTimeout = on;
    if (on && !m_idleTimer)
        m_idleTimer = Loop().startTimer(*this, kIdleTimerIntervalMs);
    else if (!on)
        stopIdleTimer();
}

void ServerMonitor::stopIdleTimer()
{
    if (m_idleTimer) {
        Loop().stopTimer(m_idleTimer);
        m_idleTimer = 0;
    }
}

void ServerMonitor::onTimer(int timerId)
{
    if (timerId == m_idleTimer)
        idleTick();
}

void ServerMonitor::idleTick()
{
    std::string message;
    m_server.SweepIdleClients(kIdleIncrementSeconds, m_settings.IdleCount, message);
    if (message.empty())
        return;
    m_log.Log(LogTarget::Server, message, settings::clGreen);
    refresh();
}

bool ServerMonitor::maximumConcurrentUsersChanged(const std::string& text, std::string& error)
{
    int value = 0;
    const char* first = text.data();
    const char* last = text.data() + text.size();
    const bool digitsOnly = !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
    const auto parsed = std::from_chars(first, last, value);
    if (!digitsOnly || parsed.ec != std::errc() || parsed.ptr != last) {
        error = "'" + text + "' is not a valid integer value";
        return false;
    }
    error.clear();
    m_server.MaxClients = value;
    m_settings.MaximumConcurrentUsers = text;
    changed();
    return true;
}

// ---- texts and rows ---------------------------------------------------------------

std::array<std::string, 4> ServerMonitor::statusPanels() const
{
    return {"Server Status", m_status, "Maximum Concurrent Users", m_settings.MaximumConcurrentUsers};
}

void ServerMonitor::refresh()
{
    const std::string n = std::to_string(m_server.SessionCount());
    if (m_server.IsListening()) {
        m_title = std::string(kVersionString) + " - Server ONLINE - Listening on Port " + m_server.Port + " - " + n +
                  " connections";
        m_status = "ONLINE - " + n + " connections";
    } else {
        m_title = std::string(kVersionString) + " - Server OFFLINE";
        m_status = "OFFLINE - " + n + " connections";
    }
    m_kickEnabled = m_server.SessionCount() >= 1;

    m_rows.clear();
    for (int i = 1; i <= kSessionSlots; ++i) {
        const SessionSlot& s = m_sessions.slot(i);
        if (!s.InUse)
            continue;
        m_rows.push_back(ConnectionRow{s.ID, s.UserName, s.IPAddress, s.Action, s.FileLocation, s.Progress, "", i});
    }
    changed();
}

void ServerMonitor::changed()
{
    if (OnChanged)
        OnChanged();
}

ConnectionRow* ServerMonitor::rowOf(const ftpserver::TFtpCtrlSocket& client)
{
    if (!m_sessions.slotOf(client))
        return nullptr;
    for (ConnectionRow& row : m_rows)
        if (row.Slot == client.SessionSlot)
            return &row;
    return nullptr;
}

// ---- server events ----------------------------------------------------------------

void ServerMonitor::serverStarted()
{
    m_log.Log(LogTarget::Server, kStartedText + m_server.Port, settings::clBlue);
    m_startEnabled = false;
    m_stopEnabled = true;
    refresh();
}

void ServerMonitor::serverStopped()
{
    m_log.Log(LogTarget::Server, kStoppedText + m_server.Port, settings::clRed);
    m_startEnabled = true;
    m_stopEnabled = false;
    refresh();
}

void ServerMonitor::clientCommand(ftpserver::TFtpCtrlSocket& client, const std::string& keyword,
                                  const std::string& params, const std::string& answer)
{
    m_log.Log(LogTarget::Server, "RECV <- " + keyword + " " + params + " " + answer, peerAddressText(client),
              settings::clPurple);
    client.IdleSeconds = 0;
}

void ServerMonitor::answerToClient(ftpserver::TFtpCtrlSocket& client, const std::string& answer)
{
    m_log.Log(LogTarget::Server, "SEND -> " + answer, peerAddressText(client), settings::clMaroon);
}

void ServerMonitor::transferConnected(ftpserver::TFtpCtrlSocket& client)
{
    m_transfers[client.targetId()] = Transfer{m_now(), 0, client.BytesSent};
}

void ServerMonitor::storDataAvailable(ftpserver::TFtpCtrlSocket& client, int len)
{
    client.IdleSeconds = 0;
    ConnectionRow* row = rowOf(client);
    if (!row)
        return;
    auto found = m_transfers.try_emplace(client.targetId(), Transfer{m_now(), 0, client.BytesSent}).first;
    Transfer& t = found->second;
    if (len > 0)
        t.received += len;
    row->Progress = std::to_string(t.received);
    row->Speed = SpeedText(t.received, ElapsedSeconds(t.start, m_now())) + kUploadSpeedUnit;
    changed();
}

void ServerMonitor::retrDataSent(ftpserver::TFtpCtrlSocket& client)
{
    client.IdleSeconds = 0;
    ConnectionRow* row = rowOf(client);
    if (!row)
        return;
    auto found = m_transfers.try_emplace(client.targetId(), Transfer{m_now(), 0, client.BytesSent}).first;
    const Transfer& t = found->second;
    // The bytes of this download: BytesSent counts every download of the session.
    const std::int64_t sent = client.BytesSent - t.sentBefore;
    row->Progress = std::to_string(sent);
    row->Speed = SpeedText(sent, ElapsedSeconds(t.start, m_now()));
    changed();
}

void ServerMonitor::transferClosed(ftpserver::TFtpCtrlSocket& client)
{
    ConnectionRow* row = rowOf(client);
    if (!row)
        return;
    row->Progress += kComplete;
    changed();
}

void ServerMonitor::clientDisconnected(ftpserver::TFtpCtrlSocket& client)
{
    m_sessions.release(client);
    m_transfers.erase(client.targetId());
    m_log.Log(LogTarget::Server, kCleanDisconnect + client.GetPeerAddr(), settings::clBlue);
    refresh();
}

void ServerMonitor::serverMessage(ftpserver::TFtpCtrlSocket* client, const std::string& text)
{
    m_log.Log(LogTarget::Server, text, client ? peerAddressText(*client) : std::string(), settings::clRed);
}

} // namespace vesk2::admin
