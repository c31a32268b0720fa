#pragma once
// Login: whether a user name and password are valid, and what a session that
// logged in may use. Reads the working user and group files at every login,
// so edits flushed there apply to the next login.
//
// A successful login takes a session-table slot (the one the session already
// holds, when it logs in again on the same connection), copies the user's key
// text into the session, fixes the effective access list and the home
// directory, fills the monitor row and sends the login message. A failed
// login of a session that held a slot ends that earlier login: its slot is
// freed, its key text cleared and its start directory put back.
//
// Refused: an unknown name, a wrong password, a disabled account, a missing
// or empty user file, a full session table. Names and passwords are
// case-sensitive; passwords are compared in constant time.

#include "admin/account_store.h"
#include "admin/session_table.h"
#include "settings/log_writer.h"
#include "settings/settings.h"

#include <string>
#include <string_view>
#include <vector>

namespace vesk2::ftpserver {
class TFtpCtrlSocket;
}

namespace vesk2::admin {

class ServerMonitor;

inline constexpr const char* kInvalidAuthentication =
    "Invalid Authentication - check username and password and remember, they are CASE SENSITIVE.";
inline constexpr const char* kSuperUserAuthenticated = " has just authenticated to your server with Super user access.";
inline constexpr const char* kAuthenticatedAction = "Authenticated";

// True when both texts are equal; the time taken depends on their lengths only.
bool constantTimeEquals(std::string_view a, std::string_view b);

// What a login gives a session besides its slot.
struct EffectiveAccess {
    EffectiveAccessList entries{};
    std::size_t count = 0; // entries kept, at most kMaxEffectiveEntries
    std::string home;      // empty: no source names a home directory
};

// The user's used access entries in slot order, then those of each of the
// user's groups in membership order (a membership naming no group, or a
// disabled one, gives nothing); entries past the 128th are dropped. The home
// directory is the user's, else that of the first such group that has one,
// else `defaultHome`.
EffectiveAccess buildEffectiveAccess(const UserRecord& user, const std::vector<GroupRecord>& groups,
                                     const std::string& defaultHome);

class Authentication {
public:
    Authentication(const AccountStore& store, const settings::Settings& settings, settings::LogWriter& log,
                   SessionTable& sessions, ServerMonitor& monitor);

    // The OnAuthenticate decision for the session; see the top of this file.
    bool authenticate(ftpserver::TFtpCtrlSocket& client, const std::string& userName, const std::string& password);

private:
    void endEarlierLogin(ftpserver::TFtpCtrlSocket& client);
    void refuse(ftpserver::TFtpCtrlSocket& client, const std::string& logLine);
    void sendLoginMessage(ftpserver::TFtpCtrlSocket& client);

    const AccountStore& m_store;
    const settings::Settings& m_settings;
    settings::LogWriter& m_log;
    SessionTable& m_sessions;
    ServerMonitor& m_monitor;
};

} // namespace vesk2::admin
