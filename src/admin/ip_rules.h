#pragma once
// The connect-time decision: every accepted control connection is checked
// against the IP list before the server greets it, and an admitted client
// gets the connect message ahead of the greeting.
//
// An entry matches when the peer's dotted address begins with the entry's
// prefix, its text up to its first "*" (plain text comparison, so 10.0.0.1
// also matches 10.0.0.12). An entry that is only "*" has an empty prefix and
// matches every address. Every entry is examined, in list order, without
// stopping at a match, and each match is logged.
//
// Peer addresses reach the log as printable text only.

#include "admin/server_lists.h"
#include "admin/server_messages.h"
#include "ftpserver/ftp_server.h"
#include "settings/log_writer.h"
#include "settings/settings.h"

#include <string>

namespace vesk2::admin {

inline constexpr const char* kMatchedDeniedText =
    "Matched IP Address/Range to list of denied IP Addresses - denying access";
inline constexpr const char* kMatchedAllowedText =
    "Matched IP Address/Range to list of allowed IP Addresses - granting access";

// In Allow mode the list holds the addresses that may connect, in Deny mode
// those that may not.
enum class IpListMode { Allow, Deny };

// Deny mode when `Deny` is on, Allow mode in every other state.
IpListMode ipListMode(const settings::Settings& settings);

// The entry's text up to, not including, its first "*".
std::string ipEntryPrefix(const std::string& entry);
bool ipEntryMatches(const std::string& entry, const std::string& address);

// Whether the peer may connect, logging to the server log as it decides:
// "Connect from" (green), one "Matched ..." line per matching entry (teal in
// Deny mode, lime in Allow mode) and, when refused, "Denied Access For ..."
// (red). An empty list admits everybody in either mode.
bool checkConnection(const IpList& list, IpListMode mode, const std::string& peerAddr, const std::string& peerPort,
                     settings::LogWriter& log);

// The server's OnClientConnect handler: the IP rules, then the connect
// message and the greeting text. A refused client is closed and hears
// nothing; the server then sends no greeting.
class ClientConnectCheck {
public:
    // Reads the list and the options at every connection.
    ClientConnectCheck(const IpList& list, const settings::Settings& settings, settings::LogWriter& log,
                       const ServerMessages& messages);

    // Makes this the server's OnClientConnect handler.
    void attach(ftpserver::TFtpServer& server);

    void FtpServer1ClientConnect(ftpserver::TFtpServer& sender, ftpserver::TFtpCtrlSocket& client, int error);

private:
    const IpList& m_list;
    const settings::Settings& m_settings;
    settings::LogWriter& m_log;
    const ServerMessages& m_messages;
};

} // namespace vesk2::admin
