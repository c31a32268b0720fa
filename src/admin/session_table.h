#pragma once
// The session table: 128 slots, numbered 1..128, one per logged-in server
// session. A slot holds the session's monitor row (what the connection list
// shows) and its effective access list, fixed at login. Login fills a slot,
// the rights checks read it, the disconnection zeroes it.
//
// A slot remembers which session object took it (the session's loop target
// id), so a slot number that a session still carries can never reach a slot
// that another session has taken since.

#include "admin/account_records.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace vesk2::ftpserver {
class TFtpCtrlSocket;
}

namespace vesk2::admin {

inline constexpr int kSessionSlots = 128;
inline constexpr std::size_t kMaxEffectiveEntries = 128;
inline constexpr std::size_t kMonitorUserNameLength = 40;

using EffectiveAccessList = std::array<AccessEntry, kMaxEffectiveEntries>;

struct SessionSlot {
    std::string ID;            // the session's socket handle number, in decimal
    bool InUse = false;
    bool SuperUser = false;
    std::string IPAddress;     // peer address + ":" + peer port
    std::string UserName;      // the login name, at most 40 bytes
    std::string Action;        // "Authenticated" or the label of the last validation
    std::string FileLocation;  // the home directory at login, then the last validated path
    std::string Progress;      // "", "Success" or "Denied"
    EffectiveAccessList Access{};
    std::uint64_t Owner = 0;   // loop target id of the session holding the slot
    std::string StartDirBeforeLogin; // the session's StartDir as the server gave it
};

class SessionTable {
public:
    SessionTable();

    // Slot n, 1..128. Other numbers are a programming error (checked).
    SessionSlot& slot(int n);
    const SessionSlot& slot(int n) const;

    // The slot the session holds, or nullptr when it holds none (not logged in,
    // or its number names a slot that is free or another session's).
    SessionSlot* slotOf(const ftpserver::TFtpCtrlSocket& client);
    const SessionSlot* slotOf(const ftpserver::TFtpCtrlSocket& client) const;

    // Takes a slot for the session: the one it already holds (zeroed), else a
    // free one drawn at random. Sets the in-use flag and the owner, stores the
    // number in the session and returns it; 0 when all 128 are in use.
    int take(ftpserver::TFtpCtrlSocket& client);

    // Zeroes the slot the session holds, if any, and forgets its number.
    void release(ftpserver::TFtpCtrlSocket& client);

    // Zeroes every slot.
    void clear();

    int inUseCount() const;

private:
    std::vector<SessionSlot> m_slots; // index n - 1
    std::mt19937 m_random;
};

} // namespace vesk2::admin
