#pragma once
// The server page's model, without any toolkit: whether the server listens,
// how many clients are connected, one row per logged-in session with its last
// action and transfer progress, the start / stop / kick-all actions, the
// maximum-users field and the 5-second idle timer.
//
// The rows are rebuilt from the session table at every refresh; the progress
// and speed that transfer events write into a row stay only until the next
// refresh. A window shows the model and is told through OnChanged.
//
// Everything runs on the loop thread. The handlers below are called by the
// server's events (see server_administration.h, which attaches them).

#include "admin/server_messages.h" // kVersionString
#include "admin/session_table.h"
#include "net/event_loop.h"
#include "platform/clock.h"
#include "settings/log_writer.h"
#include "settings/settings.h"

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

namespace vesk2::ftpserver {
class TFtpServer;
class TFtpCtrlSocket;
} // namespace vesk2::ftpserver

namespace vesk2::admin {

inline constexpr int kIdleTimerIntervalMs = 5000;
inline constexpr int kIdleIncrementSeconds = 5;

// Seconds, with milliseconds, from `start` to `now`; an interval of 24 hours
// or more wraps around, as a time-of-day difference does.
double ElapsedSeconds(platform::TimePoint start, platform::TimePoint now);

// Kilobytes per second with two decimals ("1.00"); `bytes` in decimal when
// `seconds` is exactly 0; "0" when `bytes` is below 1.
std::string SpeedText(std::int64_t bytes, double seconds);

// One row of the connection list.
struct ConnectionRow {
    std::string ID;
    std::string UserName;
    std::string IPAddress;
    std::string Action;
    std::string FileLocation;
    std::string Progress;
    std::string Speed;
    int Slot = 0; // the session-table slot the row shows (not a column)
};

// The column headings, in order.
const std::array<const char*, 7>& connectionColumns();

class ServerMonitor : public net::EventTarget {
public:
    using NowFunction = std::function<platform::TimePoint()>;

    // `now` gives the time for transfer speeds (tests pass a fixed clock).
    ServerMonitor(net::EventLoop& loop, ftpserver::TFtpServer& server, SessionTable& sessions,
                  settings::Settings& settings, settings::LogWriter& log, NowFunction now = platform::now);
    ~ServerMonitor() override;

    // At start-up: zeroes the session table, applies the maximum-users option,
    // lets the idle timer follow `IdleTimeout` and refreshes.
    void startUp();

    // Start server: the server's Port := `ServerPort`, then Start. Returns the
    // error text when the server cannot listen (also logged), else "".
    std::string startServer();
    // Stop server: stops listening; connected sessions stay connected.
    void stopServer();
    // Kick all users: drops every session; nothing while nobody is connected.
    void kickAllUsers();

    bool canStart() const { return m_startEnabled; }
    bool canStop() const { return m_stopEnabled; }
    bool canKickAll() const { return m_kickEnabled; }

    // The IdleTimeout check box: sets the option and starts or stops the timer.
    void setIdleTimeout(bool on);
    bool idleTimerRunning() const { return m_idleTimer != 0; }
    // One tick of the idle timer: the idle sweep with the configured limit.
    void idleTick();

    // The MaximumConcurrentUsers field changed to `text`. Digits only: sets the
    // server's MaxClients and the option. Anything else (an empty field, a
    // number too large) leaves the limit as it is and returns false with the
    // message in `error`.
    bool maximumConcurrentUsersChanged(const std::string& text, std::string& error);

    // Rebuilds the status texts and the rows from the server and the table.
    void refresh();

    const std::string& windowTitle() const { return m_title; }
    const std::string& statusText() const { return m_status; }
    // "Server Status", the status text, "Maximum Concurrent Users", the limit.
    std::array<std::string, 4> statusPanels() const;
    const std::vector<ConnectionRow>& rows() const { return m_rows; }

    // Called after every change of the texts or rows.
    std::function<void()> OnChanged;

    // ---- handlers of the server's events ----
    void serverStarted();
    void serverStopped();
    void clientCommand(ftpserver::TFtpCtrlSocket& client, const std::string& keyword, const std::string& params,
                       const std::string& answer);
    void answerToClient(ftpserver::TFtpCtrlSocket& client, const std::string& answer);
    // A data connection of an upload or a download opened.
    void transferConnected(ftpserver::TFtpCtrlSocket& client);
    void storDataAvailable(ftpserver::TFtpCtrlSocket& client, int len);
    void retrDataSent(ftpserver::TFtpCtrlSocket& client);
    // A data connection of an upload or a download closed.
    void transferClosed(ftpserver::TFtpCtrlSocket& client);
    void clientDisconnected(ftpserver::TFtpCtrlSocket& client);
    // A message of the server itself (accept failures, dropped clients).
    void serverMessage(ftpserver::TFtpCtrlSocket* client, const std::string& text);

protected:
    void onTimer(int timerId) override;

private:
    struct Transfer {
        platform::TimePoint start{};
        std::int64_t received = 0;  // bytes of the current upload
        std::int64_t sentBefore = 0; // the session's BytesSent when the transfer began
    };

    ConnectionRow* rowOf(const ftpserver::TFtpCtrlSocket& client);
    void changed();
    void stopIdleTimer();

    ftpserver::TFtpServer& m_server;
    SessionTable& m_sessions;
    settings::Settings& m_settings;
    settings::LogWriter& m_log;
    NowFunction m_now;

    std::string m_title = kVersionString;
    std::string m_status;
    std::vector<ConnectionRow> m_rows;
    bool m_startEnabled = true;
    bool m_stopEnabled = false;
    bool m_kickEnabled = false;
    int m_idleTimer = 0;
    std::unordered_map<std::uint64_t, Transfer> m_transfers; // by session target id
};

// The peer's address and port as the monitor and the log show them.
std::string peerAddressText(const ftpserver::TFtpCtrlSocket& client);

} // namespace vesk2::admin
