#include "admin/server_administration.h"

#include "ftpserver/ftp_server.h"

#include <memory>
#include <sstream>

namespace vesk2::admin {

namespace {

using ftpserver::TFtpCtrlSocket;
using ftpserver::TFtpServer;

// Hooks a server may offer beyond its basic events.
template <class Server>
concept HasValidateList = requires(Server& s) { s.OnValidateList; };
template <class Server>
concept HasLoginDelay = requires(Server& s) { s.LoginDelayMs; };

template <class Server>
void setOptionalHooks(Server& server, AccessRights* rights)
{
    if constexpr (HasValidateList<Server>) {
        if (rights)
            server.OnValidateList = [rights](auto& sender, auto& client, auto& directory, bool& allowed) {
                rights->validateDirectory(Validation::List, sender, client, directory, allowed);
            };
        else
            server.OnValidateList = [](auto&, auto&, auto&, bool& allowed) { allowed = false; };
    }
    if constexpr (HasLoginDelay<Server>)
        server.LoginDelayMs = rights ? kLoginFailureDelayMs : 0;
}

} // namespace

ServerAdministration::ServerAdministration(const AccountStore& store, const settings::Settings& settings,
                                           settings::LogWriter& log, SessionTable& sessions, ServerMonitor& monitor)
    : m_authentication(store, settings, log, sessions, monitor), m_rights(settings, sessions, monitor), m_monitor(monitor)
{
}

ServerAdministration::~ServerAdministration() { detach(); }

bool ServerAdministration::serverChecksListings() { return HasValidateList<TFtpServer>; }
bool ServerAdministration::serverDelaysFailedLogins() { return HasLoginDelay<TFtpServer>; }

void ServerAdministration::attach(TFtpServer& server)
{
    detach();
    m_server = &server;
    ServerMonitor& monitor = m_monitor;
    AccessRights& rights = m_rights;

    server.OnStart = [&monitor](TFtpServer&) { monitor.serverStarted(); };
    server.OnStop = [&monitor](TFtpServer&) { monitor.serverStopped(); };
    server.OnAuthenticate = [this](TFtpServer&, TFtpCtrlSocket& client, const std::string& userName,
                                   const std::string& password, bool& authenticated) {
        authenticated = m_authentication.authenticate(client, userName, password);
    };
    server.OnClientDisconnect = [&monitor](TFtpServer&, TFtpCtrlSocket& client, int) {
        monitor.clientDisconnected(client);
    };
    server.OnClientCommand = [this](TFtpServer& sender, TFtpCtrlSocket& client, std::string& keyword,
                                    std::string& params, std::string& answer) {
        m_monitor.clientCommand(client, keyword, params, answer);
        if (keyword == "QUIT" && OnLogoutMessage)
            OnLogoutMessage(sender, client);
    };
    server.OnAnswerToClient = [&monitor](TFtpServer&, TFtpCtrlSocket& client, std::string& answer) {
        monitor.answerToClient(client, answer);
    };

    auto file = [&rights](Validation v) {
        return [&rights, v](TFtpServer& sender, TFtpCtrlSocket& client, std::string& filePath, bool& allowed) {
            rights.validateFile(v, sender, client, filePath, allowed);
        };
    };
    server.OnValidateGet = file(Validation::Get);
    server.OnValidatePut = file(Validation::Put);
    server.OnValidateDele = file(Validation::Dele);
    // RMD raises OnValidateDele; should a handler raise this one, it is checked alike.
    server.OnValidateRmd = file(Validation::Dele);
    server.OnValidateRnFr = file(Validation::RnFr);
    server.OnValidateRnTo = file(Validation::RnTo);

    auto directory = [&rights](Validation v) {
        return [&rights, v](TFtpServer& sender, TFtpCtrlSocket& client, const std::string& dir, bool& allowed) {
            rights.validateDirectory(v, sender, client, dir, allowed);
        };
    };
    server.OnChangeDirectory = directory(Validation::ChangeDirectory);
    server.OnMakeDirectory = directory(Validation::MakeDirectory);
    server.OnBuildDirectory = [&rights](TFtpServer& sender, TFtpCtrlSocket& client, std::string& dir, bool) {
        rights.buildDirectory(sender, client, dir, !HasValidateList<TFtpServer>);
    };

    auto connected = [&monitor](TFtpServer&, TFtpCtrlSocket& client, net::TWSocket&, int) {
        monitor.transferConnected(client);
    };
    auto closed = [&monitor](TFtpServer&, TFtpCtrlSocket& client, net::TWSocket&, int) {
        monitor.transferClosed(client);
    };
    server.OnStorSessionConnected = connected;
    server.OnRetrSessionConnected = connected;
    server.OnStorSessionClosed = closed;
    server.OnRetrSessionClosed = closed;
    server.OnRetrDataSent = [&monitor](TFtpServer&, TFtpCtrlSocket& client, net::TWSocket&, int) {
        monitor.retrDataSent(client);
    };
    server.OnStorDataAvailable = [&monitor](TFtpServer&, TFtpCtrlSocket& client, net::TWSocket&, const char*,
                                            int len, int) { monitor.storDataAvailable(client, len); };
    server.OnDisplay = [&monitor](TFtpServer&, TFtpCtrlSocket* client, const std::string& text) {
        monitor.serverMessage(client, text);
    };

    setOptionalHooks(server, &m_rights);
}

void ServerAdministration::detach()
{
    if (!m_server)
        return;
    TFtpServer& s = *m_server;
    // The server's own defaults let everybody in and everything through: a
    // server left without its policy refuses instead.
    s.OnAuthenticate = [](TFtpServer&, TFtpCtrlSocket&, const std::string&, const std::string&,
                          bool& authenticated) { authenticated = false; };
    auto refuseFile = [](TFtpServer&, TFtpCtrlSocket&, std::string&, bool& allowed) { allowed = false; };
    auto refuseDirectory = [](TFtpServer&, TFtpCtrlSocket&, const std::string&, bool& allowed) { allowed = false; };
    s.OnValidateGet = refuseFile;
    s.OnValidatePut = refuseFile;
    s.OnValidateDele = refuseFile;
    s.OnValidateRmd = refuseFile;
    s.OnValidateRnFr = refuseFile;
    s.OnValidateRnTo = refuseFile;
    s.OnChangeDirectory = refuseDirectory;
    s.OnMakeDirectory = refuseDirectory;
    s.OnBuildDirectory = [](TFtpServer&, TFtpCtrlSocket& client, std::string&, bool) {
        client.freeStream();
        client.XferStream = std::make_unique<std::stringstream>();
        client.StreamOwned = true;
    };
    setOptionalHooks(s, nullptr);

    s.OnStart = nullptr;
    s.OnStop = nullptr;
    s.OnClientDisconnect = nullptr;
    s.OnClientCommand = nullptr;
    s.OnAnswerToClient = nullptr;
    s.OnStorSessionConnected = nullptr;
    s.OnRetrSessionConnected = nullptr;
    s.OnStorSessionClosed = nullptr;
    s.OnRetrSessionClosed = nullptr;
    s.OnRetrDataSent = nullptr;
    s.OnStorDataAvailable = nullptr;
    s.OnDisplay = nullptr;
    m_server = nullptr;
}

} // namespace vesk2::admin
