#include "admin/access_rights.h"

#include "admin/server_monitor.h"
#include "ftpserver/ftp_server.h"
#include "ftpserver/listing.h"
#include "ftpserver/path_rules.h"
#include "platform/file_system.h"

#include <algorithm>
#include <array>
#include <sstream>

namespace vesk2::admin {

namespace {

constexpr const char* kSuccess = "Success";
constexpr const char* kDenied = "Denied";

constexpr RightSet kRead = rightBit(Right::Read);
constexpr RightSet kList = rightBit(Right::List);
constexpr RightSet kWrite = rightBit(Right::Write);
constexpr RightSet kRename = rightBit(Right::Rename);
constexpr RightSet kDelete = rightBit(Right::Delete);
constexpr RightSet kCreate = rightBit(Right::Create);

// Indexed by Validation.
constexpr std::array<ValidationRule, 8> kRules{{
    {"GET", kRead, true, true},
    {"APPE", kWrite, true, false},
    {"DELE", kDelete, true, false},
    {"RNFR", kRename, true, true},
    {"RNTO", kRename, true, true},
    {"CWD", kList, false, true},
    {"MKD", kCreate | kWrite, false, true},
    {"LIST", kList, false, true},
}};

std::string withSlashes(std::string text)
{
    std::replace(text.begin(), text.end(), '\\', '/');
    return text;
}

bool holdsAll(const AccessEntry& entry, RightSet required)
{
    for (std::size_t i = 0; i < kRightCount; ++i) {
        const auto r = static_cast<Right>(i);
        if ((required & rightBit(r)) && !entry.right(r))
            return false;
    }
    return true;
}

// The listing that goes out instead of a refused one: nothing at all.
void replaceWithEmptyListing(ftpserver::TFtpCtrlSocket& client)
{
    client.freeStream();
    client.XferStream = std::make_unique<std::stringstream>();
    client.StreamOwned = true;
}

} // namespace

const ValidationRule& validationRule(Validation v) { return kRules[static_cast<std::size_t>(v)]; }

std::string normaliseRightsPath(const std::string& path)
{
    std::string out = ftpserver::CollapsePath(withSlashes(path));
    if (out.back() != '/')
        out += '/';
    return out;
}

std::string testedDirectory(const std::string& path, bool fileEvent)
{
    if (!fileEvent)
        return normaliseRightsPath(path);
    std::string p = withSlashes(path);
    // "/data/sub/" names the entry "sub" of "/data/" as much as "/data/sub" does.
    if (p.size() > 1 && p.back() == '/')
        p.pop_back();
    const std::size_t slash = p.rfind('/');
    return normaliseRightsPath(slash == std::string::npos ? std::string("/") : p.substr(0, slash + 1));
}

bool accessGrants(const EffectiveAccessList& access, const std::string& directory, RightSet required)
{
    for (const AccessEntry& entry : access) {
        if (!entry.used() || !holdsAll(entry, required))
            continue;
        const std::string e = normaliseRightsPath(entry.Path.text());
        if (e == directory)
            return true;
        if (entry.Inheritable && directory.starts_with(e))
            return true;
    }
    return false;
}

bool namesEncryptionKey(const std::string& path)
{
    const std::string p = withSlashes(path);
    const std::size_t slash = p.rfind('/');
    return (slash == std::string::npos ? p : p.substr(slash + 1)) == kEncryptionKeyName;
}

AccessRights::AccessRights(const settings::Settings& settings, SessionTable& sessions, ServerMonitor& monitor)
    : m_settings(settings), m_sessions(sessions), m_monitor(monitor)
{
}

void AccessRights::validateFile(Validation v, ftpserver::TFtpServer& server, ftpserver::TFtpCtrlSocket& client,
                                std::string& filePath, bool& allowed)
{
    allowed = false;
    if (filePath.empty())
        return;
    filePath = ftpserver::CollapsePath(withSlashes(filePath));
    allowed = decide(v, server, client, filePath);
}

void AccessRights::validateDirectory(Validation v, ftpserver::TFtpServer& server, ftpserver::TFtpCtrlSocket& client,
                                     const std::string& directory, bool& allowed)
{
    allowed = false;
    if (directory.empty())
        return;
    if (ftpserver::CollapsePath(withSlashes(directory)) != directory) {
        // The operation would use a path other than the one we could check.
        if (SessionSlot* slot = m_sessions.slotOf(client))
            record(*slot, validationRule(v), directory, false);
        return;
    }
    allowed = decide(v, server, client, directory);
}

void AccessRights::buildDirectory(ftpserver::TFtpServer& server, ftpserver::TFtpCtrlSocket& client,
                                  const std::string& directory, bool checkList)
{
    if (encryptedOnlyRefusal(server, client, validationRule(Validation::List))) {
        replaceWithEmptyListing(client);
        return;
    }
    if (!checkList)
        return;
    const std::string listed =
        ftpserver::patternDirectory(ftpserver::listingPattern(client.WorkDir, directory));
    bool allowed = false;
    validateDirectory(Validation::List, server, client, listed, allowed);
    if (!allowed)
        replaceWithEmptyListing(client);
}

bool AccessRights::encryptedOnlyRefusal(ftpserver::TFtpServer& server, ftpserver::TFtpCtrlSocket& client,
                                        const ValidationRule& rule)
{
    if (!m_settings.EncryptedOnlyClients || client.EncryptionActive)
        return false;
    client.SendLine(std::string(rule.refusalWith220 ? "220 " : "") + kEncryptedOnlyRefusal);
    // Closed once the line (and the command's own refusal) has left.
    server.PostCloseClient(client);
    return true;
}

bool AccessRights::decide(Validation v, ftpserver::TFtpServer& server, ftpserver::TFtpCtrlSocket& client,
                          const std::string& path)
{
    const ValidationRule& rule = validationRule(v);
    SessionSlot* slot = m_sessions.slotOf(client);
    if (!slot)
        return false; // not logged in: no rights at all
    bool granted = slot->SuperUser;

    // A superuser may upload at once, also without encryption.
    if (v == Validation::Put && granted)
        return true;

    // The key-check challenge is fetched before encryption can be on; what it
    // sends is made for the session, never a file of the disk.
    const bool keyCheck = v == Validation::Get && namesEncryptionKey(path);
    if (!keyCheck && encryptedOnlyRefusal(server, client, rule))
        return false;
    if (keyCheck)
        granted = true;

    if (v == Validation::ChangeDirectory && !platform::directoryExists(path))
        return false;

    if (!granted)
        granted = accessGrants(slot->Access, testedDirectory(path, rule.fileEvent), rule.required);
    record(*slot, rule, path, granted);
    return granted;
}

void AccessRights::record(SessionSlot& slot, const ValidationRule& rule, const std::string& path, bool granted)
{
    slot.Action = rule.label;
    slot.FileLocation = path;
    slot.Progress = granted ? kSuccess : kDenied;
    m_monitor.refresh();
}

} // namespace vesk2::admin
