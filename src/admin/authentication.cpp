#include "admin/authentication.h"

#include "admin/server_messages.h"
#include "admin/server_monitor.h"
#include "admin/short_string.h"
#include "ftpserver/ctrl_socket.h"

#include <algorithm>

namespace vesk2::admin {

namespace {

using settings::LogTarget;

constexpr const char* kAnonymous = "ANONYMOUS";

std::string upperAscii(std::string text)
{
    for (char& c : text)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return text;
}

// Appends the used entries of `from` to `into` while there is room; every used
// entry counts, also those dropped.
void appendEntries(EffectiveAccess& into, const AccessList& from)
{
    for (const AccessEntry& entry : from) {
        if (!entry.used())
            continue;
        if (into.count < kMaxEffectiveEntries)
            into.entries[into.count++] = entry;
    }
}

const GroupRecord* findGroup(const std::vector<GroupRecord>& groups, const NameString& name)
{
    for (const GroupRecord& g : groups)
        if (g.GroupName == name)
            return &g;
    return nullptr;
}

} // namespace

bool constantTimeEquals(std::string_view a, std::string_view b)
{
    const std::size_t n = std::max(a.size(), b.size());
    unsigned diff = a.size() == b.size() ? 0u : 1u;
    for (std::size_t i = 0; i < n; ++i) {
        const auto ca = static_cast<unsigned char>(i < a.size() ? a[i] : 0);
        const auto cb = static_cast<unsigned char>(i < b.size() ? b[i] : 0);
        diff |= static_cast<unsigned>(ca ^ cb);
    }
    return diff == 0;
}

EffectiveAccess buildEffectiveAccess(const UserRecord& user, const std::vector<GroupRecord>& groups,
                                     const std::string& defaultHome)
{
    EffectiveAccess result;
    result.home = user.HomeDirectory.text();
    appendEntries(result, user.Access);
    for (const NameString& membership : user.Groups) {
        if (membership.empty())
            continue;
        const GroupRecord* group = findGroup(groups, membership);
        if (!group || !group->Enabled)
            continue;
        if (result.home.empty())
            result.home = group->HomeDirectory.text();
        appendEntries(result, group->Access);
    }
    if (result.home.empty())
        result.home = defaultHome;
    return result;
}

Authentication::Authentication(const AccountStore& store, const settings::Settings& settings,
                               settings::LogWriter& log, SessionTable& sessions, ServerMonitor& monitor)
    : m_store(store), m_settings(settings), m_log(log), m_sessions(sessions), m_monitor(monitor)
{
}

bool Authentication::authenticate(ftpserver::TFtpCtrlSocket& client, const std::string& userName,
                                  const std::string& password)
{
    const RecordRead<UserRecord> users = m_store.users().readWorking();
    if (users.missing || !users.error.empty()) {
        endEarlierLogin(client); // no user file: refused without a log line
        return false;
    }

    const UserRecord* candidate = nullptr;
    for (const UserRecord& u : users.records) {
        if (u.UserName.text() == userName) {
            candidate = &u;
            break;
        }
    }
    // Anonymous takes any password, but the stored name must match as typed.
    const bool anonymous = upperAscii(userName) == kAnonymous;
    const bool passwordOk =
        constantTimeEquals(candidate ? candidate->Password.text() : std::string(), password) || anonymous;
    if (!candidate || !passwordOk) {
        refuse(client, kInvalidAuthentication);
        return false;
    }
    if (!candidate->Enabled) {
        refuse(client, "Login refused for " + userName + ": the account is disabled.");
        return false;
    }

    const SessionSlot* earlier = m_sessions.slotOf(client);
    const std::string startDirBeforeLogin = earlier ? earlier->StartDirBeforeLogin : client.StartDir;
    const int n = m_sessions.take(client);
    if (n == 0) {
        refuse(client, "Login refused for " + userName + ": all " + std::to_string(kSessionSlots) +
                           " session slots are in use.");
        return false;
    }
    SessionSlot& slot = m_sessions.slot(n);
    slot.StartDirBeforeLogin = startDirBeforeLogin;
    slot.SuperUser = candidate->SuperUser;
    client.UserKey = candidate->EncryptionKey.text();

    if (candidate->SuperUser && m_settings.ShowSuperUserWarnings)
        m_log.Log(LogTarget::Both, userName + kSuperUserAuthenticated, settings::clRed);

    const RecordRead<GroupRecord> groups = m_store.groups().readWorking();
    const EffectiveAccess access = buildEffectiveAccess(*candidate, groups.records, m_settings.DefaultHomeDirectory);
    slot.Access = access.entries;
    client.StartDir = access.home.empty() ? startDirBeforeLogin : access.home;

    slot.ID = std::to_string(client.HSocket());
    slot.UserName = userName.substr(0, cutAtCharBoundary(userName, kMonitorUserNameLength));
    slot.IPAddress = peerAddressText(client);
    slot.Action = kAuthenticatedAction;
    slot.FileLocation = client.StartDir;
    slot.Progress.clear();
    m_monitor.refresh();

    sendLoginMessage(client);
    return true;
}

void Authentication::refuse(ftpserver::TFtpCtrlSocket& client, const std::string& logLine)
{
    m_log.Log(LogTarget::Server, logLine, peerAddressText(client), settings::clRed);
    endEarlierLogin(client);
}

void Authentication::endEarlierLogin(ftpserver::TFtpCtrlSocket& client)
{
    client.UserKey.clear();
    const SessionSlot* earlier = m_sessions.slotOf(client);
    if (!earlier)
        return;
    client.StartDir = earlier->StartDirBeforeLogin;
    m_sessions.release(client);
    m_monitor.refresh();
}

void Authentication::sendLoginMessage(ftpserver::TFtpCtrlSocket& client)
{
    // The message file is read each time; a relative name is taken from the
    // program directory, where the account files are.
    const std::string path = messageFilePath(m_settings.LoginMessage, m_store.directory());
    if (path.empty())
        return;
    for (const std::string& line : readMessageLines(path))
        client.SendLine(messagePrefix(MessageKind::Login) + line);
}

} // namespace vesk2::admin
