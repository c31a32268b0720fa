#include "app/client_command.h"

#include "ftpclient/ftp_client.h"
#include "ftpclient/key_check_file.h"
#include "ftpclient/local_file.h"
#include "net/event_loop.h"
#include "net/signal_watcher.h"
#include "platform/file_system.h"
#include "platform/program_dir.h"
#include "settings/log_text.h"

#include <chrono>
#include <cstdio>
#include <random>

namespace vesk2::app {

namespace {

using ftpclient::TFtpClient;
using ftpclient::TFtpRequestKind;

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitCannotStart = 2;
constexpr int kInactivitySeconds = 120;
constexpr char kMaskedPass[] = "PASS *************";

std::string lastComponent(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

class ClientSession : public net::EventTarget {
public:
    ClientSession(net::EventLoop& loop, const ClientCommandLine& options, const ClientLogSink& log,
                  std::FILE* listingOut)
        : EventTarget(loop), m_options(options), m_log(log), m_listingOut(listingOut), m_client(loop, m_encryption)
    {
        wire();
    }

    ~ClientSession() override
    {
        if (m_timer)
            Loop().stopTimer(m_timer);
    }

    // Prepares the session and starts Open; false with a message when it cannot.
    bool start(std::string& error)
    {
        if (!prepareNames(error))
            return false;
        const FtpUrl& url = m_options.url;
        m_client.HostName = url.host;
        m_client.Port = url.port;
        m_client.UserName = url.user.empty() ? "anonymous" : url.user;
        m_client.PassWord = url.password.empty() && url.user.empty() ? "vesk2@" : url.password;
        m_client.Binary = true;
        if (!m_options.socksHost.empty()) {
            // A proxy user name asks for user/password authentication at
            // level 5 (which also makes every data connection passive).
            if (!m_options.socksUser.empty())
                m_client.SetConnectionType(ftpclient::ftpSocks5);
            m_client.SetSocksServer(m_options.socksHost);
            m_client.SetSocksPort(m_options.socksPort);
            m_client.SetSocksUserCode(m_options.socksUser);
            m_client.SetSocksPassword(m_options.socksPassword);
            m_client.SetPassive(true);
        } else {
            m_client.SetPassive(m_options.passive);
        }
        m_encryption.deactivate();
        std::string news = "Attempting to connect to " + url.host + ":" + url.port;
        if (!m_options.socksHost.empty())
            news += " via Socks Server " + m_options.socksHost + ":" + m_options.socksPort;
        log(news);
        m_lastActivity = now();
        m_timer = Loop().startTimer(*this, 1000);
        if (!startRequest(&TFtpClient::Open))
            return false;
        return true;
    }

    // Ends the session at once (a signal).
    void interrupt()
    {
        log("Aborting...");
        m_client.Abort();
        finish(kExitFailed);
    }

    bool finished() const { return m_finished; }
    int exitCode() const { return m_exitCode; }

private:
    enum class Phase { login, keyCheck, keyCheckSyst, typeSet, operation, quitting };

    static std::int64_t now()
    {
        using namespace std::chrono;
        return duration_cast<seconds>(steady_clock::now().time_since_epoch()).count();
    }

    void log(const std::string& line) { m_log(line); }

    void wire()
    {
        m_client.OnCommand = [this](TFtpClient&, std::string& command) {
            log("SEND -> " + (command.rfind("PASS ", 0) == 0 ? std::string(kMaskedPass) : settings::makePrintable(command)));
        };
        m_client.OnResponse = [this](TFtpClient& c) {
            m_lastActivity = now();
            log("RECV <- " + settings::makePrintable(c.LastResponse()));
        };
        m_client.OnDisplay = [this](TFtpClient&, std::string& message) {
            // Commands and replies are logged above; the rest are the data path's news.
            if (message.rfind("! ", 0) == 0)
                log(settings::makePrintable(message));
        };
        m_client.OnProgress = [this](TFtpClient&, std::int64_t, bool&) { m_lastActivity = now(); };
        m_client.OnSessionConnected = [this](TFtpClient& c, int) {
            log("Connected to " + c.ControlSocket().GetPeerAddr() + ":" + c.ControlSocket().GetPeerPort());
        };
        m_client.OnSessionClosed = [this](TFtpClient& c, int) { log("Disconnected From " + c.HostName); };
        m_client.OnRequestDone = [this](TFtpClient&, TFtpRequestKind kind, int error) { requestDone(kind, error); };
        m_client.OnBgException = [this](TFtpClient& c, const std::exception& e, bool& canClose) {
            if (!c.ErrorMessage().empty()) {
                log("ERROR " + settings::makePrintable(c.ErrorMessage()));
            } else {
                log("Trashed Client Session due to request");
                log(std::string("Exception Info => ") + e.what());
            }
            canClose = true;
            finish(kExitFailed);
        };
    }

    bool prepareNames(std::string& error)
    {
        const auto dir = platform::openProgramDirectory();
        if (!dir.ok()) {
            error = "no program directory: " + dir.error;
            return false;
        }
        // A number of this run for the temporary names in the shared directory.
        std::random_device random;
        const std::uint32_t instance = random() % 1000000000u;
        m_keyFile = dir.dir + crypto::keyChallengeFileName(instance);
        m_listingFile = dir.dir + m_options.url.host + std::to_string(instance) + ".tmp";

        const std::string& path = m_options.url.path;
        m_local = m_options.local;
        m_remote = path;
        if (m_options.operation == ClientOperation::coGet) {
            if (!m_local.empty() && (m_local.back() == '/' || platform::directoryExists(m_local))) {
                // Into a folder: the remote name must stay inside it.
                const auto inside = ftpclient::localPathFor(m_local, lastComponent(path));
                if (!inside) {
                    error = "the remote name '" + settings::makePrintable(lastComponent(path)) +
                            "' cannot name a file in " + m_local;
                    return false;
                }
                m_local = *inside;
            }
        } else if (m_options.operation == ClientOperation::coPut) {
            if (!platform::fileExists(m_local)) {
                error = "no such file: " + m_local;
                return false;
            }
            if (m_remote.empty() || m_remote.back() == '/')
                m_remote += lastComponent(m_local);
        }
        return true;
    }

    bool startRequest(void (TFtpClient::*request)())
    {
        try {
            (m_client.*request)();
            return true;
        } catch (const std::exception& e) {
            log("ERROR " + settings::makePrintable(e.what()));
            failAndQuit();
            return false;
        }
    }

    void failAndQuit()
    {
        m_exitCode = kExitFailed;
        quit();
    }

    void quit()
    {
        m_phase = Phase::quitting;
        if (!m_client.ControlConnected() || m_client.State() != ftpclient::fcsReady) {
            m_client.Abort();
            finish(m_exitCode);
            return;
        }
        try {
            m_client.Quit();
        } catch (const std::exception&) {
            finish(m_exitCode);
        }
    }

    void finish(int code)
    {
        if (m_finished)
            return;
        m_finished = true;
        m_exitCode = code;
        std::remove(m_listingFile.c_str());
        Loop().quit();
    }

    void requestDone(TFtpRequestKind kind, int error)
    {
        using namespace ftpclient;
        m_lastActivity = now();
        if (m_finished)
            return;
        if (m_phase == Phase::quitting) {
            if (kind == rkQuit || !m_client.ControlConnected())
                finish(m_exitCode);
            return;
        }
        switch (kind) {
        case rkOpen:
            if (error != 0) {
                log("ERROR " + settings::makePrintable(m_client.ErrorMessage()));
                m_exitCode = kExitFailed;
                finish(kExitFailed);
                return;
            }
            startRequest(&TFtpClient::User);
            return;
        case rkUser:
            if (error != 0)
                return loginFailed();
            if (m_client.StatusCode() == kCodeLoggedIn)
                startRequest(&TFtpClient::Syst);
            else
                startRequest(&TFtpClient::Pass);
            return;
        case rkPass:
            if (error != 0)
                return loginFailed();
            startRequest(&TFtpClient::Syst);
            return;
        case rkSyst:
            return systDone();
        case rkTypeSet:
            if (m_phase == Phase::typeSet)
                return runOperation();
            return;
        case rkSize:
            // The remote part of a resumed upload: APPE sends the rest.
            m_client.ResumeAt = error == 0 ? m_client.SizeResult() : 0;
            startRequest(error == 0 ? &TFtpClient::Append : &TFtpClient::Put);
            return;
        case rkGet:
            if (m_phase == Phase::keyCheck)
                return keyFileDone();
            return operationDone(error);
        case rkRestGet:
        case rkPut:
        case rkAppend:
            return operationDone(error);
        case rkDir:
            printListing(error);
            return operationDone(error);
        default:
            return;
        }
    }

    void loginFailed()
    {
        log("ERROR " + settings::makePrintable(m_client.ErrorMessage()));
        if (m_client.StatusCode() == 530)
            log("Authentication Failure");
        failAndQuit();
    }

    void systDone()
    {
        const std::string reply = m_client.LastResponse();
        if (m_phase == Phase::keyCheckSyst || ftpclient::systSaysEncryptionEnabled(reply)) {
            if (!ftpclient::systSaysEncryptionEnabled(reply))
                log("The server did not confirm the encryption.");
            return startOperation();
        }
        if (!ftpclient::shouldAttemptEncryption(reply, m_options.keyText)) {
            if (!m_options.keyText.empty())
                log("The server is not a vesk2 server: no key check, no encryption.");
            return startOperation();
        }
        // The key check: download the challenge and decipher it with our key.
        m_phase = Phase::keyCheck;
        m_client.LocalFileName = m_keyFile;
        m_client.HostFileName = crypto::kChallengeRequestName;
        m_client.Binary = true;
        m_client.TypeSetSync();
        if (m_finished)
            return;
        startRequest(&TFtpClient::Get);
    }

    void keyFileDone()
    {
        m_client.HostFileName.clear();
        const auto result = ftpclient::checkKeyFile(m_keyFile, m_options.keyText);
        const auto outcome = crypto::keyCheckOutcome(result, m_options.keyText, m_options.mandatory);
        for (const std::string& message : outcome.messages)
            log(message);
        switch (outcome.next) {
        case crypto::KeyCheckNextStep::knSyst:
            m_encryption.activate(m_options.keyText);
            m_phase = Phase::keyCheckSyst;
            startRequest(&TFtpClient::Syst);
            return;
        case crypto::KeyCheckNextStep::knQuit:
            m_encryption.deactivate();
            return failAndQuit();
        case crypto::KeyCheckNextStep::knContinue:
            m_encryption.deactivate();
            return startOperation();
        }
    }

    void startOperation()
    {
        m_phase = Phase::typeSet;
        m_client.Binary = true;
        startRequest(&TFtpClient::TypeSet);
    }

    void runOperation()
    {
        m_phase = Phase::operation;
        m_client.ResumeAt = 0;
        switch (m_options.operation) {
        case ClientOperation::coList:
            m_client.LocalFileName = m_listingFile;
            m_client.HostFileName = m_remote;
            startRequest(&TFtpClient::Dir);
            return;
        case ClientOperation::coGet:
            m_client.LocalFileName = m_local;
            m_client.HostFileName = m_remote;
            startRequest(m_options.resume ? &TFtpClient::RestGet : &TFtpClient::Get);
            return;
        case ClientOperation::coPut:
            m_client.LocalFileName = m_local;
            m_client.HostFileName = m_remote;
            if (m_options.append)
                startRequest(&TFtpClient::Append);
            else if (m_options.resume)
                startRequest(&TFtpClient::Size);
            else
                startRequest(&TFtpClient::Put);
            return;
        case ClientOperation::coNone:
            return failAndQuit();
        }
    }

    void printListing(int error)
    {
        if (error != 0 || !m_listingOut)
            return;
        std::FILE* in = std::fopen(m_listingFile.c_str(), "rb");
        if (!in)
            return;
        std::string pending;
        char buf[65536];
        auto emit = [&](const std::string& line) {
            const std::string text = settings::makePrintable(line) + "\n";
            std::fwrite(text.data(), 1, text.size(), m_listingOut);
        };
        for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, in)) > 0;) {
            pending.append(buf, n);
            for (std::size_t lf; (lf = pending.find('\n')) != std::string::npos;) {
                std::string line = pending.substr(0, lf);
                if (!line.empty() && line.back() == '\r')
                    line.pop_back();
                emit(line);
                pending.erase(0, lf + 1);
            }
        }
        if (!pending.empty())
            emit(pending);
        std::fclose(in);
        std::fflush(m_listingOut);
        std::remove(m_listingFile.c_str());
    }

    void operationDone(int error)
    {
        if (error != 0) {
            log("ERROR " +
                (m_client.ErrorMessage().empty() ? "the operation failed with code " + std::to_string(error)
                                                 : settings::makePrintable(m_client.ErrorMessage())));
            m_exitCode = kExitFailed;
        } else {
            m_exitCode = kExitOk;
        }
        quit();
    }

    void onTimer(int) override
    {
        if (m_finished || now() - m_lastActivity < kInactivitySeconds)
            return;
        log("ERROR no answer for " + std::to_string(kInactivitySeconds) + " seconds");
        m_client.Abort();
        finish(kExitFailed);
    }

    const ClientCommandLine& m_options;
    const ClientLogSink& m_log;
    std::FILE* m_listingOut;
    ftpclient::TEncryptionState m_encryption;
    TFtpClient m_client;
    Phase m_phase = Phase::login;
    std::string m_keyFile, m_listingFile, m_local, m_remote;
    int m_exitCode = kExitFailed;
    bool m_finished = false;
    int m_timer = 0;
    std::int64_t m_lastActivity = 0;
};

} // namespace

int runClientCommand(const ClientCommandLine& options, const ClientLogSink& log, std::FILE* listingOut)
{
    net::EventLoop loop;
    ClientSession session(loop, options, log, listingOut);
    net::SignalWatcher signals(loop, [&](int) { session.interrupt(); });
    std::string error;
    if (!session.start(error)) {
        if (!error.empty())
            log("vesk2 client: " + error);
        if (!session.finished())
            return kExitCannotStart;
    }
    if (!session.finished())
        loop.run();
    // Let closing sockets leave the loop.
    for (int i = 0; i < 10 && loop.runOnce(10);)
        ++i;
    return session.exitCode();
}

} // namespace vesk2::app
