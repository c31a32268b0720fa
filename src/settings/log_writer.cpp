#include "settings/log_writer.h"

#include "platform/ui.h"
#include "settings/log_text.h"

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>

namespace vesk2::settings {

namespace {

// Protocol lines read "SEND -> " or "RECV <- " followed by the line, so the
// command or reply code starts at the ninth character.
constexpr std::size_t kProtocolTextStart = 8;

// With masking on, what stays of a PASS line: the direction, "PASS" and its blank.
constexpr std::size_t kMaskedKeep = 13;
constexpr std::string_view kMask = "*************";

// Commands and replies shown in the windows even without `VerboseLogging`.
constexpr std::array<std::string_view, 16> kAlwaysShown{"USER", "PASS", "QUIT", "ABOR", "220", "421",
                                                         "500",  "530",  "503",  "230",  "501", "221",
                                                         "426",  "550",  "553",  "331"};

constexpr const char* kLogFileFilter = "Log Files (*.log)|*.log|All Files (*.*)|*.*";

char upperAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool textAt(std::string_view message, std::size_t position, std::string_view text)
{
    return message.size() >= position + text.size() && message.substr(position, text.size()) == text;
}

// Any spelling of "pass" counts: a command typed by hand is not always upper case.
bool passwordAtProtocolStart(std::string_view message)
{
    constexpr std::string_view kPass = "PASS";
    if (message.size() < kProtocolTextStart + kPass.size())
        return false;
    for (std::size_t i = 0; i < kPass.size(); ++i)
        if (upperAscii(message[kProtocolTextStart + i]) != kPass[i])
            return false;
    return true;
}

bool shownInWindow(std::string_view message, bool verbose)
{
    if (verbose)
        return true;
    if (!message.starts_with("SEND") && !message.starts_with("RECV"))
        return true;
    return std::any_of(kAlwaysShown.begin(), kAlwaysShown.end(),
                       [&](std::string_view text) { return textAt(message, kProtocolTextStart, text); });
}

bool appendLine(const std::string& path, const std::string& line)
{
    std::ofstream out(path, std::ios::binary | std::ios::app);
    if (!out)
        return false;
    out << line << "\r\n";
    out.close();
    return static_cast<bool>(out);
}

bool openFile(const std::string& path, std::ios::openmode mode)
{
    std::ofstream out(path, std::ios::binary | mode);
    return static_cast<bool>(out);
}

} // namespace

std::tm SystemLogClock::localNow() const
{
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return local;
}

std::string logFileStamp(const std::tm& time)
{
    char text[32];
    std::size_t length = std::strftime(text, sizeof text, "%Y%m%d%H%M%S", &time);
    return std::string(text, length);
}

LogWriter::LogWriter(const Settings& settings, LogWindowModel& clientWindow, LogWindowModel& serverWindow,
                     const LogClock& clock, platform::Ui* ui, std::string programDir)
    : m_settings(settings),
      m_clientWindow(clientWindow),
      m_serverWindow(serverWindow),
      m_clock(clock),
      m_ui(ui),
      m_programDir(std::move(programDir))
{
}

void LogWriter::Log(LogTarget target, std::string_view messageText, std::string_view address, Colour colour)
{
    std::string message = makePrintable(messageText);

    if (m_settings.MaskPasswords && passwordAtProtocolStart(message))
        message = message.substr(0, kMaskedKeep) + std::string(kMask);

    if (m_settings.LogIPs && !address.empty())
        message = makePrintable(address) + " " + message;

    if (target == LogTarget::Both) {
        // Each log composes its own line (and its own time stamp); the address is
        // already part of the message. Each half applies the window filter itself.
        Log(LogTarget::Client, message, {}, colour);
        Log(LogTarget::Server, message, {}, colour);
        return;
    }
    if (target != LogTarget::Client && target != LogTarget::Server)
        return;

    std::tm now = m_clock.localNow();
    std::string line = m_settings.TimestampEvents ? timestamp(now) + " " + message : message;

    if (shownInWindow(message, m_settings.VerboseLogging))
        (target == LogTarget::Client ? m_clientWindow : m_serverWindow).append(line, colour);

    if (!m_settings.LogToFile)
        return;

    std::vector<std::string> failures;
    prepareFile(m_client, m_settings.ClientLogFile, now, failures);
    prepareFile(m_server, m_settings.ServerLogFile, now, failures);

    const LogFile& file = target == LogTarget::Client ? m_client : m_server;
    if (file.prepared && file.usable)
        appendLine(file.path, line);

    // Shown last: the message box may run the loop, which may log again.
    if (m_ui != nullptr)
        for (const std::string& failure : failures)
            m_ui->message("vesk2", failure, platform::UiButtons::Ok, platform::UiIcon::Error);
}

void LogWriter::prepareFile(LogFile& file, const std::string& option, const std::tm& now,
                            std::vector<std::string>& failures)
{
    if (file.prepared || option.empty())
        return;

    std::string name = m_settings.TimestampLogs ? option + " " + logFileStamp(now) + ".log" : option;
    file.path = resolve(name);
    file.prepared = true;

    if (!m_settings.TimestampLogs && m_settings.AppendLogs)
        file.usable = openFile(file.path, std::ios::app) || openFile(file.path, std::ios::trunc);
    else
        file.usable = openFile(file.path, std::ios::trunc);

    if (!file.usable)
        failures.push_back(option + " path is invalid");
}

std::string LogWriter::resolve(const std::string& name) const
{
    if (m_programDir.empty() || std::filesystem::path(name).is_absolute())
        return name;
    return m_programDir + name;
}

std::string LogWriter::timestamp(const std::tm& time) const
{
    char text[256];
    std::size_t length = std::strftime(text, sizeof text, m_timestampFormat.c_str(), &time);
    return std::string(text, length);
}

void LogWriter::resetPreparedFiles()
{
    m_client = LogFile{};
    m_server = LogFile{};
}

void LogWriter::applyWindowVisibility()
{
    m_clientWindow.setVisible(m_settings.ShowClientLogWindow);
    m_serverWindow.setVisible(m_settings.ShowServerLogWindow);
}

std::optional<std::string> chooseLogFile(platform::Ui& ui, const std::string& current)
{
    std::optional<std::string> chosen = ui.saveFile("Log File", kLogFileFilter, current);
    if (!chosen || chosen->empty())
        return std::nullopt;
    if (std::filesystem::path(*chosen).extension().empty())
        *chosen += ".log";
    return chosen;
}

} // namespace vesk2::settings
