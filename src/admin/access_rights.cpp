#include "admin/access_rights.h"

#include "admin/server_monitor.h"
#include "ftpserver/ftp_server.h"
#include "ftpserver/listing.h"
#include "ftpserver/path_rules.h"
#include "platform/file_system.h"

#include <algorithm>
#include <array>
#include <filesystem>
#include <optional>
#include <sstream>
#include <system_error>
#include <vector>

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

// What the system resolves more often than this on one path it refuses
// (ELOOP); so do we.
constexpr int kMaxLinksFollowed = 40;

// Pushes the segments of `path` so that the first one comes off the back first.
void pushSegments(std::vector<std::string>& pending, const std::string& path)
{
    std::vector<std::string> segments;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t slash = path.find('/', start);
        if (slash == std::string::npos)
            slash = path.size();
        segments.push_back(path.substr(start, slash - start));
        start = slash + 1;
    }
    pending.insert(pending.end(), segments.rbegin(), segments.rend());
}

// The absolute `path` with each symbolic link along it replaced by its
// target, the way the system walks it when the operation runs ("." and ".."
// taken after the links before them). What does not exist is kept as it is.
// Without a trailing "/". nullopt when a link cannot be read or there are too
// many of them.
std::optional<std::string> followLinks(const std::string& path)
{
    namespace fs = std::filesystem;
    std::vector<std::string> pending;
    pushSegments(pending, path);
    std::string done; // "" is the root
    int followed = 0;
    while (!pending.empty()) {
        const std::string part = std::move(pending.back());
        pending.pop_back();
        if (part.empty() || part == ".")
            continue;
        if (part == "..") {
            done.erase(done.empty() ? 0 : done.rfind('/'));
            continue;
        }
        const std::string next = done + "/" + part;
        std::error_code ec;
        if (!fs::is_symlink(fs::symlink_status(next, ec))) {
            done = next;
            continue;
        }
        const std::string target = fs::read_symlink(next, ec).string();
        if (ec || target.empty() || ++followed > kMaxLinksFollowed)
            return std::nullopt;
        if (target[0] == '/')
            done.clear();
        pushSegments(pending, target);
    }
    return done.empty() ? std::string("/") : done;
}

// The normalised directory whose rights decide about `path` once the links are
// followed: as testedDirectory, but for Get and Put (which open what a link
// points at) of the target's directory, for the others (which act on the
// entry itself) of the real directory holding the entry. nullopt: refused.
std::optional<std::string> realTestedDirectory(Validation v, const std::string& path, bool fileEvent)
{
    const bool followsEntry = v == Validation::Get || v == Validation::Put;
    const std::string start = fileEvent && !followsEntry ? testedDirectory(path, true) : path;
    const std::optional<std::string> real = followLinks(withSlashes(start));
    if (!real)
        return std::nullopt;
    return fileEvent && followsEntry ? testedDirectory(*real, true) : normaliseRightsPath(*real);
}

// Whether `entry`, standing for the normalised directory `entryDirectory`,
// grants `required` on the normalised `directory`.
bool entryGrants(const AccessEntry& entry, const std::string& entryDirectory, const std::string& directory,
                 RightSet required)
{
    if (!entry.used() || !holdsAll(entry, required))
        return false;
    return entryDirectory == directory || (entry.Inheritable && directory.starts_with(entryDirectory));
}

// accessGrants with every entry's directory taken as its links resolve.
bool accessGrantsFollowingLinks(const EffectiveAccessList& access, const std::string& directory,
                                RightSet required)
{
    for (const AccessEntry& entry : access) {
        if (!entry.used())
            continue;
        const std::optional<std::string> real = followLinks(normaliseRightsPath(entry.Path.text()));
        if (real && entryGrants(entry, normaliseRightsPath(*real), directory, required))
            return true;
    }
    return false;
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
    for (const AccessEntry& entry : access)
        if (entryGrants(entry, normaliseRightsPath(entry.Path.text()), directory, required))
            return true;
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

    // Rights go by the path as named and by where it really leads: a symbolic
    // link inside a granted directory reaches no further than its target's
    // own rights.
    if (!granted && accessGrants(slot->Access, testedDirectory(path, rule.fileEvent), rule.required)) {
        const std::optional<std::string> real = realTestedDirectory(v, path, rule.fileEvent);
        granted = real && accessGrantsFollowingLinks(slot->Access, *real, rule.required);
    }
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
