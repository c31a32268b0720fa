#include "app/headless_server.h"

#include "net/socket_exception.h"

#include <chrono>
#include <ctime>

namespace vesk2::app {

namespace {

constexpr int kDefaultMaxClients = 3;
constexpr const char* kServerBanner = "220 VESK Server ready.";
constexpr std::size_t kMaxLoggedLine = 200;

std::string timestamp()
{
    const auto now = std::chrono::system_clock::now();
    const std::time_t t = std::chrono::system_clock::to_time_t(now);
    std::tm local{};
    localtime_r(&t, &local);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &local);
    return buf;
}

} // namespace

std::string printable(const std::string& text)
{
    std::string out;
    out.reserve(std::min(text.size(), kMaxLoggedLine));
    for (char c : text) {
        if (out.size() >= kMaxLoggedLine) {
            out += "...";
            break;
        }
        const auto u = static_cast<unsigned char>(c);
        out += (u < 32 || u > 126) ? '?' : c;
    }
    return out;
}

HeadlessServer::HeadlessServer(net::EventLoop& loop, const CommandLine& options, LogSink log)
    : m_options(options), m_log(std::move(log)), m_server(loop)
{
    m_server.Banner = kServerBanner;
    m_server.MaxClients = kDefaultMaxClients;
    m_server.Addr = options.bindAddr;
    m_server.Port = options.port.value_or("21");
    wire();
}

void HeadlessServer::log(const ftpserver::TFtpCtrlSocket* client, const std::string& text)
{
    std::string line = timestamp() + " ";
    if (client)
        line += "[" + client->GetPeerAddr() + "] ";
    m_log(line + text);
}

void HeadlessServer::wire()
{
    using namespace ftpserver;
    m_server.OnStart = [this](TFtpServer& s) { log(nullptr, "Server listening on " + s.Addr + ":" + s.ListeningPort()); };
    m_server.OnStop = [this](TFtpServer&) { log(nullptr, "Server stopped"); };
    m_server.OnClientConnect = [this](TFtpServer&, TFtpCtrlSocket& c, int) {
        log(&c, "Connected (" + c.Name + ")");
    };
    m_server.OnClientDisconnect = [this](TFtpServer&, TFtpCtrlSocket& c, int) { log(&c, "Disconnected"); };
    m_server.OnClientCommand = [this](TFtpServer&, TFtpCtrlSocket& c, std::string& keyword, std::string& params,
                                      std::string&) {
        // Passwords never reach the log.
        std::string shown = keyword == "PASS" ? "PASS ***" : keyword;
        if (keyword != "PASS" && !params.empty())
            shown += (keyword.empty() ? "" : " ") + params;
        log(&c, "> " + printable(shown));
    };
    m_server.OnAnswerToClient = [this](TFtpServer&, TFtpCtrlSocket& c, std::string& answer) {
        log(&c, "< " + printable(answer));
    };
    m_server.OnDisplay = [this](TFtpServer&, TFtpCtrlSocket* c, const std::string& text) { log(c, text); };
    m_server.OnAuthenticate = [this](TFtpServer&, TFtpCtrlSocket& c, const std::string&, const std::string&,
                                     bool& authenticated) {
        // Until real accounts exist, only an explicit --anyone lets anybody in.
        authenticated = m_options.anyone;
        if (authenticated) {
            c.StartDir = m_options.home;
            c.UserKey = m_options.keyText;
        }
    };
}

bool HeadlessServer::start(std::string& error)
{
    try {
        m_server.Start();
    } catch (const net::ESocketException& e) {
        error = e.what();
        for (auto& c : error)
            if (c == '\r' || c == '\n')
                c = ' ';
        return false;
    }
    return true;
}

void HeadlessServer::stop()
{
    m_server.Stop();
    m_server.DropAllClients();
}

} // namespace vesk2::app
