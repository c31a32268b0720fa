#pragma once
// The rights check behind every file and directory operation of a logged-in
// session, and the handlers of the server's validate events.
//
// A session's rights are its effective access list (filled at login, see
// authentication.h). Rights of all entries add up; there are no deny
// entries. An entry grants on its own directory, and with `Inheritable` also
// on every directory below it. Paths are compared byte for byte (the file
// system is case-sensitive) after "\" became "/", "." and ".." segments were
// collapsed and a "/" was put at the end.
//
// Paths reaching the handlers are collapsed first; a file event's path is
// rewritten to its collapsed form, so the operation uses exactly the path that
// was checked. A directory event (whose path the server does not let us
// rewrite) is refused when its path is not already collapsed.

#include "admin/session_table.h"
#include "settings/settings.h"

#include <string>

namespace vesk2::ftpserver {
class TFtpServer;
class TFtpCtrlSocket;
} // namespace vesk2::ftpserver

namespace vesk2::admin {

class ServerMonitor;

inline constexpr const char* kEncryptedOnlyRefusal =
    "Access Denied.  This server is only accepting Encrypted FTP Clients with encryption enabled and working.";
inline constexpr const char* kEncryptionKeyName = "*encryption.key*";

// A set of rights, one bit per Right.
using RightSet = unsigned;
constexpr RightSet rightBit(Right r) { return 1u << static_cast<unsigned>(r); }

// The operations that are checked.
enum class Validation {
    Get,             // RETR: Read on the file's directory
    Put,             // STOR, APPE: Write
    Dele,            // DELE, RMD: Delete
    RnFr,            // RNFR: Rename
    RnTo,            // RNTO: Rename
    ChangeDirectory, // CWD, CDUP: List on the directory itself
    MakeDirectory,   // MKD: Create and Write on the new directory itself
    List,            // LIST, NLST: List on the directory listed
};

// What an operation needs and how it shows in the monitor.
struct ValidationRule {
    const char* label;      // the monitor's Action
    RightSet required;
    bool fileEvent;         // checked on the path's directory, not the path
    bool refusalWith220;    // the encrypted-only line starts with "220 "
};
const ValidationRule& validationRule(Validation v);

// The form in which rights paths are compared: "\" as "/", collapsed,
// ending in "/".
std::string normaliseRightsPath(const std::string& path);

// The directory whose rights decide about `path`: for a file event the
// directory that holds the named entry, else the path itself; normalised.
std::string testedDirectory(const std::string& path, bool fileEvent);

// True when an entry of `access` grants every right of `required` on the
// normalised directory `directory`.
bool accessGrants(const EffectiveAccessList& access, const std::string& directory, RightSet required);

// True when the last path component is exactly "*encryption.key*".
bool namesEncryptionKey(const std::string& path);

class AccessRights {
public:
    AccessRights(const settings::Settings& settings, SessionTable& sessions, ServerMonitor& monitor);

    // A file event (Get, Put, Dele, RnFr, RnTo): sets `allowed`; rewrites
    // `filePath` to its collapsed form.
    void validateFile(Validation v, ftpserver::TFtpServer& server, ftpserver::TFtpCtrlSocket& client,
                      std::string& filePath, bool& allowed);
    // A directory event (ChangeDirectory, MakeDirectory, List): sets `allowed`.
    void validateDirectory(Validation v, ftpserver::TFtpServer& server, ftpserver::TFtpCtrlSocket& client,
                           const std::string& directory, bool& allowed);

    // OnBuildDirectory, raised before a listing is built. Applies the
    // encrypted-only refusal and, when `checkList` is set (the server raises
    // no validate event of its own for listings), the List right on the
    // directory the listing would show. A refused listing is replaced by an
    // empty one, so nothing of the directory leaves.
    void buildDirectory(ftpserver::TFtpServer& server, ftpserver::TFtpCtrlSocket& client,
                        const std::string& directory, bool checkList);

private:
    // Sends the encrypted-only line and closes the session when the policy
    // applies; true when it did.
    bool encryptedOnlyRefusal(ftpserver::TFtpServer& server, ftpserver::TFtpCtrlSocket& client,
                              const ValidationRule& rule);
    bool decide(Validation v, ftpserver::TFtpServer& server, ftpserver::TFtpCtrlSocket& client,
                const std::string& path);
    void record(SessionSlot& slot, const ValidationRule& rule, const std::string& path, bool granted);

    const settings::Settings& m_settings;
    SessionTable& m_sessions;
    ServerMonitor& m_monitor;
};

} // namespace vesk2::admin
