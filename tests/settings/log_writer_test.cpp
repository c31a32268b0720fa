#include "settings/log_writer.h"

#include "recording_ui.h"
#include "support/sandbox.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace vesk2::settings {
namespace {

namespace fs = std::filesystem;

class FixedClock : public LogClock {
public:
    std::tm time{};
    FixedClock() { set(2024, 3, 4, 5, 6, 7); }
    void set(int year, int month, int day, int hour, int minute, int second)
    {
        time = std::tm{};
        time.tm_year = year - 1900;
        time.tm_mon = month - 1;
        time.tm_mday = day;
        time.tm_hour = hour;
        time.tm_min = minute;
        time.tm_sec = second;
    }
    std::tm localNow() const override { return time; }
};

class LogWriterTest : public test::Sandbox {
protected:
    Settings m_settings;
    LogWindowModel m_clientWindow;
    LogWindowModel m_serverWindow;
    FixedClock m_clock;
    test::RecordingUi m_ui;
    LogWriter m_writer{m_settings, m_clientWindow, m_serverWindow, m_clock, &m_ui};

    std::vector<std::string> texts(const LogWindowModel& window) const
    {
        std::vector<std::string> out;
        for (const LogLine& line : window.lines())
            out.push_back(line.text);
        return out;
    }
    std::string lastClient() const { return m_clientWindow.lines().empty() ? "" : m_clientWindow.lines().back().text; }

    void logToFiles()
    {
        m_settings.LogToFile = true;
        m_settings.ClientLogFile = path("client.log");
        m_settings.ServerLogFile = path("server.log");
    }
};

TEST_F(LogWriterTest, PasswordsAreMaskedAfterTheProtocolPrefix)
{
    m_settings.VerboseLogging = true;
    struct Case {
        const char* in;
        const char* want;
    };
    const Case cases[] = {
        {"SEND -> PASS secret", "SEND -> PASS *************"},
        {"SEND -> PASS a-much-longer-password-than-thirteen", "SEND -> PASS *************"},
        {"RECV <- PASS x ", "RECV <- PASS *************"},
        {"SEND -> pass typed-by-hand", "SEND -> pass *************"},
        {"SEND -> PASS", "SEND -> PASS*************"},
        {"SEND -> USER bob", "SEND -> USER bob"},
        {"SEND -> PASV", "SEND -> PASV"},
        {"PASS secret", "PASS secret"},
    };
    for (const Case& c : cases) {
        m_writer.Log(LogTarget::Client, c.in, clMaroon);
        EXPECT_EQ(lastClient(), c.want) << c.in;
    }
    m_settings.MaskPasswords = false;
    m_writer.Log(LogTarget::Client, "SEND -> PASS secret", clMaroon);
    EXPECT_EQ(lastClient(), "SEND -> PASS secret");
}

TEST_F(LogWriterTest, AddressAndTimestampPrefixTheLine)
{
    m_writer.Log(LogTarget::Server, "RECV <- USER bob ", "10.0.0.5:40123", clPurple);
    EXPECT_EQ(m_serverWindow.lines().back().text, "RECV <- USER bob ") << "no address without LogIPs";

    m_settings.LogIPs = true;
    m_settings.TimestampEvents = true;
    m_writer.Log(LogTarget::Server, "RECV <- PASS hunter2 ", "10.0.0.5:40123", clPurple);
    // The locale's short date and long time; the tests run in the "C" locale.
    EXPECT_EQ(m_serverWindow.lines().back(),
              (LogLine{"03/04/24 05:06:07 10.0.0.5:40123 RECV <- PASS *************", clPurple}));

    m_writer.setTimestampFormat("%Y-%m-%d %H:%M:%S");
    m_writer.Log(LogTarget::Client, "Connected", clNavy);
    EXPECT_EQ(lastClient(), "2024-03-04 05:06:07 Connected");
    EXPECT_TRUE(m_clientWindow.lines().size() == 1u);
}

TEST_F(LogWriterTest, WindowFilterHoldsBackRoutineProtocolLinesButNotTheFile)
{
    logToFiles();
    struct Case {
        const char* message;
        bool shown;
    };
    const Case cases[] = {
        {"RECV <- 226 Transfer complete.", false}, {"RECV <- 550 No such file.", true},
        {"SEND -> LIST", false},                   {"SEND -> USER bob", true},
        {"SEND -> QUIT", true},                    {"RECV <- 331 Password required.", true},
        {"RECV <- 150 Opening data connection", false}, {"Connected to host", true},
        {"SENDING the queue", false},              {"RECV", false},
        {"Sent a file", true},
    };
    for (const Case& c : cases)
        m_writer.Log(LogTarget::Client, c.message, clPurple);

    std::vector<std::string> shown;
    std::string file;
    for (const Case& c : cases) {
        if (c.shown)
            shown.push_back(c.message);
        file += std::string(c.message) + "\r\n";
    }
    EXPECT_EQ(texts(m_clientWindow), shown);
    EXPECT_EQ(readFile("client.log"), file);

    m_settings.VerboseLogging = true;
    m_writer.Log(LogTarget::Client, "RECV <- 226 Transfer complete.", clPurple);
    EXPECT_EQ(lastClient(), "RECV <- 226 Transfer complete.");

    // With LogIPs on a server protocol line starts with the address and passes.
    m_settings.VerboseLogging = false;
    m_settings.LogIPs = true;
    m_writer.Log(LogTarget::Server, "SEND -> 226 Transfer complete.", "127.0.0.1:5000", clMaroon);
    EXPECT_EQ(texts(m_serverWindow), (std::vector<std::string>{"127.0.0.1:5000 SEND -> 226 Transfer complete."}));
}

TEST_F(LogWriterTest, EachTargetReachesItsOwnWindowAndFile)
{
    logToFiles();
    m_settings.TimestampEvents = true;
    m_settings.LogIPs = true;
    m_writer.setTimestampFormat("%H:%M:%S");

    m_writer.Log(LogTarget::Client, "client only", clNavy);
    m_writer.Log(LogTarget::Server, "server only", "1.2.3.4:21", clBlue);
    m_writer.Log(LogTarget::Both, "both logs", "1.2.3.4:21", clRed);

    EXPECT_EQ(texts(m_clientWindow), (std::vector<std::string>{"05:06:07 client only", "05:06:07 1.2.3.4:21 both logs"}));
    EXPECT_EQ(texts(m_serverWindow),
              (std::vector<std::string>{"05:06:07 1.2.3.4:21 server only", "05:06:07 1.2.3.4:21 both logs"}));
    EXPECT_EQ(m_serverWindow.lines().back().colour, clRed);
    EXPECT_EQ(readFile("client.log"), "05:06:07 client only\r\n05:06:07 1.2.3.4:21 both logs\r\n");
    EXPECT_EQ(readFile("server.log"), "05:06:07 1.2.3.4:21 server only\r\n05:06:07 1.2.3.4:21 both logs\r\n");

    // A held-back protocol line for both logs still reaches both files.
    m_settings.LogIPs = false;
    m_writer.Log(LogTarget::Both, "RECV <- 226 Done", clPurple);
    EXPECT_EQ(m_clientWindow.lines().size(), 2u);
    EXPECT_NE(readFile("client.log").find("RECV <- 226 Done\r\n"), std::string::npos);
    EXPECT_NE(readFile("server.log").find("RECV <- 226 Done\r\n"), std::string::npos);
}

TEST_F(LogWriterTest, HiddenWindowsStillReceiveLines)
{
    m_settings.ShowServerLogWindow = false;
    m_writer.applyWindowVisibility();
    EXPECT_TRUE(m_clientWindow.visible());
    EXPECT_FALSE(m_serverWindow.visible());
    m_writer.Log(LogTarget::Server, "while hidden", clBlue);
    EXPECT_EQ(texts(m_serverWindow), (std::vector<std::string>{"while hidden"}));
}

TEST_F(LogWriterTest, PeerTextIsMadePrintable)
{
    logToFiles();
    m_settings.LogIPs = true;
    m_writer.Log(LogTarget::Server, "RECV <- USER \x1b[2Jbob\r\nRECV <- 230 fake", "1.2.3.4:21\n", clPurple);
    const std::string want = "1.2.3.4:21? RECV <- USER ?[2Jbob??RECV <- 230 fake";
    EXPECT_EQ(m_serverWindow.lines().back().text, want);
    EXPECT_EQ(readFile("server.log"), want + "\r\n");
}

TEST_F(LogWriterTest, NoFilesWithoutLogToFileOrWithoutAName)
{
    m_settings.ClientLogFile = path("client.log");
    m_writer.Log(LogTarget::Client, "not to file", clBlue);
    EXPECT_FALSE(fs::exists(path("client.log")));

    m_settings.LogToFile = true;
    m_writer.Log(LogTarget::Server, "server has no file name", clBlue);
    EXPECT_TRUE(fs::exists(path("client.log"))) << "both files are prepared whatever the target";
    EXPECT_EQ(readFile("client.log"), "");
    EXPECT_TRUE(m_writer.serverLogPath().empty());
    EXPECT_EQ(m_writer.clientLogPath(), path("client.log"));
}

TEST_F(LogWriterTest, FilesArePreparedOncePerRun)
{
    logToFiles();
    writeFile("client.log", "old client\r\n");
    writeFile("server.log", "old server\r\n");

    m_writer.Log(LogTarget::Client, "first", clBlue);
    EXPECT_EQ(readFile("client.log"), "first\r\n") << "without AppendLogs the file starts empty";
    EXPECT_EQ(readFile("server.log"), "");

    m_settings.ClientLogFile = path("renamed.log");
    m_settings.AppendLogs = true;
    m_writer.Log(LogTarget::Client, "second", clBlue);
    EXPECT_EQ(readFile("client.log"), "first\r\nsecond\r\n");
    EXPECT_FALSE(fs::exists(path("renamed.log")));

    // The next run appends, since AppendLogs is now on.
    m_settings.ClientLogFile = path("client.log");
    m_writer.resetPreparedFiles();
    m_writer.Log(LogTarget::Client, "next run", clBlue);
    EXPECT_EQ(readFile("client.log"), "first\r\nsecond\r\nnext run\r\n");
}

TEST_F(LogWriterTest, TimestampedLogsStartANewFileNamedAfterTheFirstLine)
{
    logToFiles();
    m_settings.TimestampLogs = true;
    m_settings.AppendLogs = true;
    const std::string name = path("client.log 20240304050607.log");
    writeFile("client.log 20240304050607.log", "stale\r\n");

    m_writer.Log(LogTarget::Client, "one", clBlue);
    m_clock.set(2024, 3, 4, 5, 7, 0);
    m_writer.Log(LogTarget::Client, "two", clBlue);

    EXPECT_EQ(m_writer.clientLogPath(), name);
    EXPECT_EQ(test::readWholeFile(name), "one\r\ntwo\r\n") << "AppendLogs does not apply to timestamped logs";
    EXPECT_TRUE(fs::exists(path("server.log 20240304050607.log")));
    EXPECT_FALSE(fs::exists(path("client.log")));
    EXPECT_EQ(logFileStamp(m_clock.time), "20240304050700");
}

TEST_F(LogWriterTest, AnInvalidPathIsReportedOnceInEitherMode)
{
    for (bool append : {true, false}) {
        m_ui.messages.clear();
        m_settings.LogToFile = true;
        m_settings.AppendLogs = append;
        m_settings.ClientLogFile = path("missing-dir/client.log");
        m_settings.ServerLogFile = "";
        m_writer.resetPreparedFiles();
        m_writer.Log(LogTarget::Client, "one", clBlue);
        m_writer.Log(LogTarget::Client, "two", clBlue);
        EXPECT_EQ(m_ui.messages, (std::vector<std::string>{path("missing-dir/client.log") + " path is invalid"}))
            << append;
        EXPECT_EQ(m_clientWindow.lines().back().text, "two");
        EXPECT_FALSE(fs::exists(path("missing-dir")));
    }
}

TEST_F(LogWriterTest, RelativeNamesAreTakenFromTheProgramDirectory)
{
    LogWriter writer(m_settings, m_clientWindow, m_serverWindow, m_clock, nullptr, dir());
    m_settings.LogToFile = true;
    m_settings.ServerLogFile = "server.log";
    writer.Log(LogTarget::Server, "hello", clBlue);
    EXPECT_EQ(readFile("server.log"), "hello\r\n");
}

TEST(ChooseLogFile, AddsTheExtensionWhenThereIsNone)
{
    test::RecordingUi ui;
    struct Case {
        std::optional<std::string> answer;
        std::optional<std::string> want;
    };
    const Case cases[] = {{"/var/log/vesk", "/var/log/vesk.log"},
                          {"/var/log/vesk.txt", "/var/log/vesk.txt"},
                          {"/var/log.d/vesk", "/var/log.d/vesk.log"},
                          {std::nullopt, std::nullopt}};
    for (const Case& c : cases) {
        ui.saveAnswer = c.answer;
        EXPECT_EQ(chooseLogFile(ui, "/old/client.log"), c.want);
    }
    EXPECT_EQ(ui.lastSaveFilter, "Log Files (*.log)|*.log|All Files (*.*)|*.*");
    EXPECT_EQ(ui.lastSaveInitial, "/old/client.log");
}

} // namespace
} // namespace vesk2::settings
