#pragma once
// The log writer: the one way every part of the program writes to the client
// log, the server log or both. A call composes the line (password masking,
// the peer's address, the time), shows it in the log window unless the window
// filter holds it back, and writes it to the log file when log files are on.
//
// Runs on the loop thread; never blocks on the network. Log files are opened
// and closed for every line, so each is complete on disk after every line.

#include "settings/log_colour.h"
#include "settings/log_window_model.h"
#include "settings/settings.h"

#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vesk2::platform {
class Ui;
}

namespace vesk2::settings {

enum class LogTarget { Client = 1, Server = 2, Both = 3 };

// Where the writer gets the time from; tests give a fixed one.
class LogClock {
public:
    virtual ~LogClock() = default;
    // The current local date and time.
    virtual std::tm localNow() const = 0;
};

class SystemLogClock final : public LogClock {
public:
    std::tm localNow() const override;
};

// The text that names a log file made with `TimestampLogs` on: the date and
// time as 14 digits, year, month, day, hours, minutes, seconds.
std::string logFileStamp(const std::tm& time);

// The log's date and time: the locale's short date and long time ("%x %X").
inline constexpr const char* kDefaultTimestampFormat = "%x %X";

class LogWriter {
public:
    // The writer reads the options from `settings` at every call, so changes on
    // the settings page apply to the next line. `ui` shows the message about a
    // log file that cannot be made (may be nullptr: no message). A relative log
    // file name is taken from `programDir` when that is given.
    LogWriter(const Settings& settings, LogWindowModel& clientWindow, LogWindowModel& serverWindow,
              const LogClock& clock, platform::Ui* ui = nullptr, std::string programDir = {});

    // Writes one line to `target`. `address` is the peer's address and port
    // ("10.0.0.5:40123") for server protocol lines, else empty. Text that a
    // peer sent is made printable first (see log_text.h).
    void Log(LogTarget target, std::string_view message, std::string_view address, Colour colour);
    void Log(LogTarget target, std::string_view message, Colour colour) { Log(target, message, {}, colour); }

    // Forgets which log files were prepared in this run (start-up does this once).
    void resetPreparedFiles();

    // Shows or hides the two log windows as `ShowClientLogWindow` and
    // `ShowServerLogWindow` say; call after changing either.
    void applyWindowVisibility();

    // The file the client or server log goes to in this run; empty until it is prepared.
    const std::string& clientLogPath() const { return m_client.path; }
    const std::string& serverLogPath() const { return m_server.path; }

    // The strftime format of the line time stamps.
    void setTimestampFormat(std::string format) { m_timestampFormat = std::move(format); }

private:
    struct LogFile {
        bool prepared = false;
        bool usable = false;
        std::string path;
    };

    void writeLine(LogTarget target, const std::string& line, std::string_view shownText, Colour colour);
    void prepareFile(LogFile& file, const std::string& option, const std::tm& now,
                     std::vector<std::string>& failures);
    std::string resolve(const std::string& name) const;
    std::string timestamp(const std::tm& time) const;

    const Settings& m_settings;
    LogWindowModel& m_clientWindow;
    LogWindowModel& m_serverWindow;
    const LogClock& m_clock;
    platform::Ui* m_ui;
    std::string m_programDir;
    std::string m_timestampFormat = kDefaultTimestampFormat;
    LogFile m_client;
    LogFile m_server;
};

// The save dialog for a log file, starting at `current`. Returns the name to
// store in `ClientLogFile` or `ServerLogFile`, with ".log" added when it has no
// extension; nullopt when cancelled.
std::optional<std::string> chooseLogFile(platform::Ui& ui, const std::string& current);

} // namespace vesk2::settings
