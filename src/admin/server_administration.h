#pragma once
// The server's policy in one piece: logins, rights and the monitor, attached
// to a TFtpServer's events in one call.
//
// attach() sets these events of the server: OnStart, OnStop, OnAuthenticate,
// OnClientDisconnect, OnClientCommand, OnAnswerToClient, OnChangeDirectory,
// OnMakeDirectory, OnBuildDirectory, OnValidateGet, OnValidatePut,
// OnValidateDele, OnValidateRmd, OnValidateRnFr, OnValidateRnTo, the four
// data-session events, OnRetrDataSent, OnStorDataAvailable and OnDisplay.
// It leaves OnClientConnect (the IP rules and the connect message) to its
// owner. When the server has them, it also sets OnValidateList (the List
// right for LIST and NLST) and LoginDelayMs (the pause before a refused
// login is answered).
//
// The collaborators must outlive this object. Destroying it (or detach())
// takes the policy off the server: logins and every checked operation are
// then refused, the monitor events cleared, so the server never calls into a
// dead object and never falls back to its own let-everything-through defaults.

#include "admin/access_rights.h"
#include "admin/account_store.h"
#include "admin/authentication.h"
#include "admin/server_monitor.h"
#include "admin/session_table.h"
#include "settings/log_writer.h"
#include "settings/settings.h"

#include <functional>

namespace vesk2::ftpserver {
class TFtpServer;
class TFtpCtrlSocket;
} // namespace vesk2::ftpserver

namespace vesk2::admin {

// How long a refused login waits before "530 Login incorrect." goes out.
inline constexpr int kLoginFailureDelayMs = 1000;

class ServerAdministration {
public:
    ServerAdministration(const AccountStore& store, const settings::Settings& settings, settings::LogWriter& log,
                         SessionTable& sessions, ServerMonitor& monitor);
    ~ServerAdministration();
    ServerAdministration(const ServerAdministration&) = delete;
    ServerAdministration& operator=(const ServerAdministration&) = delete;

    // Sets the server's events (see above). Attaching again moves them.
    void attach(ftpserver::TFtpServer& server);
    // Takes the policy off the server (see above).
    void detach();

    // Whether this server raises OnValidateList and honours LoginDelayMs.
    static bool serverChecksListings();
    static bool serverDelaysFailedLogins();

    // Called for every QUIT before the server's own reply: the logout message.
    std::function<void(ftpserver::TFtpServer& server, ftpserver::TFtpCtrlSocket& client)> OnLogoutMessage;

    Authentication& authentication() { return m_authentication; }
    AccessRights& accessRights() { return m_rights; }
    ServerMonitor& monitor() { return m_monitor; }

private:
    Authentication m_authentication;
    AccessRights m_rights;
    ServerMonitor& m_monitor;
    ftpserver::TFtpServer* m_server = nullptr;
};

} // namespace vesk2::admin
