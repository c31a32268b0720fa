// File and directory operations: DELE, SIZE, MDTM, RNFR, RNTO, MKD/XMKD,
// RMD/XRMD, and REST.
//
// Every path goes through resolveAndMap (or BuildFilePath for MDTM), so the
// owner's validate event and the disk operation see the same collapsed path.

#include "ftpserver/command_handlers.h"
#include "ftpserver/file_operations.h"
#include "ftpserver/ftp_server.h"
#include "ftpserver/listing.h"
#include "ftpserver/path_rules.h"
#include "platform/file_system.h"

#include <cstdint>
#include <limits>
#include <optional>

namespace vesk2::ftpserver {

namespace {

constexpr const char* kSyntaxError = "Syntax error in parameter.";
constexpr const char* kNoSuchFile = "'%s': no such file or directory.";
constexpr const char* kCommandFailed = "Command failed: %s.";

// Raises the validate event `event` (preset to allow) for the path.
bool validate(TFtpServer& server, TFtpCtrlSocket& client, const TFtpSrvValidateXferEvent& event, std::string& path)
{
    bool allowed = true;
    if (event)
        event(server, client, path, allowed);
    return allowed;
}

// A decimal integer of 64 bits: optional blanks around it, an optional sign,
// digits. Anything else, or a value out of range, is a conversion error with
// the text of the conversion message.
struct IntegerParse {
    std::int64_t value = 0;
    std::string error;
};

IntegerParse parseInteger(const std::string& text)
{
    IntegerParse out;
    const std::string s = trimmed(text);
    std::size_t i = 0;
    const bool negative = !s.empty() && s[0] == '-';
    if (!s.empty() && (s[0] == '-' || s[0] == '+'))
        ++i;
    const std::uint64_t limit = negative ? std::uint64_t(1) << 63 : std::uint64_t(std::numeric_limits<std::int64_t>::max());
    std::uint64_t value = 0;
    bool ok = i < s.size();
    for (; ok && i < s.size(); ++i) {
        const unsigned digit = static_cast<unsigned>(s[i] - '0');
        if (s[i] < '0' || s[i] > '9' || value > (limit - digit) / 10)
            ok = false;
        else
            value = value * 10 + digit;
    }
    if (!ok) {
        out.error = "'" + text + "' is not a valid integer value";
        return out;
    }
    out.value = negative ? static_cast<std::int64_t>(0 - value) : static_cast<std::int64_t>(value);
    return out;
}

// The entry at a path as the file commands look it up: "dir/" is the
// directory itself.
std::optional<platform::DirEntry> entryAt(std::string path)
{
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return platform::statEntry(path);
}

} // namespace

void CommandDELE(TFtpServer& server, TFtpCtrlSocket& client, std::string&, std::string& params,
                 std::string& answer)
{
    static constexpr const char* kRefused = "Cannot DELE - Insufficient Rights.";
    static constexpr const char* kDeleted = "File '%s' deleted.";
    static constexpr const char* kCannotDelete = "File '%s' can't be deleted.";
    if (!requireLogin(client, answer))
        return;
    client.LastCommand = TFtpCmdType::ftpcDELE;
    std::string path = resolveAndMap(server, client, params);
    if (!validate(server, client, server.OnValidateDele, path))
        answer = reply(kFtpNotUnderstood, kRefused);
    else if (params.empty())
        answer = reply(kFtpSyntaxError, kSyntaxError);
    else if (!platform::fileExists(path))
        answer = reply(kFtpFileUnavailable, kNoSuchFile, {path});
    else if (deleteFile(path))
        answer = reply(kFtpFileActionOk, kDeleted, {path});
    else
        answer = reply(kFtpFileActionNotTaken, kCannotDelete, {path});
}

// RMD and XRMD. The owner's delete event decides, as for DELE.
void CommandRMD(TFtpServer& server, TFtpCtrlSocket& client, std::string&, std::string& params,
                std::string& answer)
{
    static constexpr const char* kRefused = "Cannot RMD - Insufficient Rights.";
    static constexpr const char* kRemoved = "'%s': directory removed.";
    static constexpr const char* kCannotRemove = "'%s': can't remove directory.";
    static constexpr const char* kNoSuchDirectory = "'%s': no such directory.";
    if (!requireLogin(client, answer))
        return;
    client.LastCommand = TFtpCmdType::ftpcRMD;
    std::string path = resolveAndMap(server, client, params);
    if (!validate(server, client, server.OnValidateDele, path))
        answer = reply(kFtpNotUnderstood, kRefused);
    else if (params.empty())
        answer = reply(kFtpSyntaxError, kSyntaxError);
    else if (!entryAt(path))
        answer = reply(kFtpFileUnavailable, kNoSuchDirectory, {path});
    else if (removeDirectory(path))
        answer = reply(kFtpFileActionOk, kRemoved, {path});
    else
        answer = reply(kFtpFileUnavailable, kCannotRemove, {path});
}

// MKD and XMKD. The replies quote the name as the client sent it.
void CommandMKD(TFtpServer& server, TFtpCtrlSocket& client, std::string&, std::string& params,
                std::string& answer)
{
    static constexpr const char* kCannotCreate = "'%s': can't create directory.";
    static constexpr const char* kAlreadyExists = "'%s': directory already exists.";
    static constexpr const char* kFileInTheWay = "'%s': a file with that name already exists.  Can't create directory";
    static constexpr const char* kCreated = "'%s': directory created.";
    if (!requireLogin(client, answer))
        return;
    client.LastCommand = TFtpCmdType::ftpcMKD;
    try {
        const std::string path = resolveAndMap(server, client, params);
        bool allowed = true;
        if (server.OnMakeDirectory)
            server.OnMakeDirectory(server, client, path, allowed);
        if (!allowed)
            answer = reply(kFtpFileUnavailable, kCannotCreate, {params});
        else if (params.empty())
            answer = reply(kFtpSyntaxError, kSyntaxError);
        else if (platform::directoryExists(path))
            answer = reply(kFtpPathName, kAlreadyExists, {params});
        else if (platform::fileExists(path))
            answer = reply(kFtpFileUnavailable, kFileInTheWay, {params});
        else if (makeDirectory(path))
            answer = reply(kFtpPathName, kCreated, {params});
        else
            answer = reply(kFtpFileUnavailable, kCannotCreate, {params});
    } catch (const std::exception& e) {
        answer = reply(kFtpFileUnavailable, kCannotCreate, {e.what()});
    }
}

// RNFR remembers a file (never a directory) as the rename source.
void CommandRNFR(TFtpServer& server, TFtpCtrlSocket& client, std::string&, std::string& params,
                 std::string& answer)
{
    static constexpr const char* kRefused = "Cannot RNFR - Insufficient Rights.";
    static constexpr const char* kSyntaxErrorIs = "Syntax error is parameter.";
    static constexpr const char* kReadyForDestination = "File exists, ready for destination name.";
    if (!requireLogin(client, answer))
        return;
    client.LastCommand = TFtpCmdType::ftpcRNFR;
    std::string path = resolveAndMap(server, client, params);
    if (!validate(server, client, server.OnValidateRnFr, path)) {
        answer = reply(kFtpNotUnderstood, kRefused);
    } else if (params.empty()) {
        answer = reply(kFtpSyntaxError, kSyntaxErrorIs);
    } else if (platform::fileExists(path)) {
        client.FromFileName = path;
        answer = reply(kFtpPendingFurther, kReadyForDestination);
    } else {
        answer = reply(kFtpFileUnavailable, kNoSuchFile, {path});
    }
}

// RNTO renames the source of the last successful RNFR; an existing file is
// never replaced. The source stays remembered.
void CommandRNTO(TFtpServer& server, TFtpCtrlSocket& client, std::string&, std::string& params,
                 std::string& answer)
{
    static constexpr const char* kRefused = "Cannot RNTO - Insufficient Rights.";
    static constexpr const char* kTargetExists = "'%s': file already exists.";
    static constexpr const char* kRenamed = "File '%s' renamed to '%s'.";
    static constexpr const char* kCannotRename = "File '%s' can't be renamed.";
    if (!requireLogin(client, answer))
        return;
    client.LastCommand = TFtpCmdType::ftpcRNTO;
    std::string path = resolveAndMap(server, client, params);
    if (!validate(server, client, server.OnValidateRnTo, path)) {
        answer = reply(kFtpNotUnderstood, kRefused);
    } else if (params.empty()) {
        answer = reply(kFtpSyntaxError, kSyntaxError);
    } else if (platform::fileExists(path)) {
        answer = reply(kFtpNameNotAllowed, kTargetExists, {path});
    } else if (platform::fileExists(client.FromFileName)) {
        client.ToFileName = path;
        if (renameFile(client.FromFileName, path))
            answer = reply(kFtpFileActionOk, kRenamed, {client.FromFileName, path});
        else
            answer = reply(kFtpFileActionNotTaken, kCannotRename, {client.FromFileName});
    } else {
        answer = reply(kFtpFileUnavailable, kNoSuchFile, {client.FromFileName});
    }
}

// SIZE of a file (directories have none), 64-bit.
void CommandSIZE(TFtpServer& server, TFtpCtrlSocket& client, std::string&, std::string& params,
                 std::string& answer)
{
    static constexpr const char* kFileNotFound = "File not found";
    if (!requireLogin(client, answer))
        return;
    client.LastCommand = TFtpCmdType::ftpcSIZE;
    try {
        const std::string path = resolveAndMap(server, client, params);
        if (params.empty()) {
            answer = reply(kFtpSyntaxError, kSyntaxError);
            return;
        }
        const std::optional<platform::DirEntry> entry = entryAt(path);
        if (entry && !entry->isDirectory && path.back() != '/')
            answer = reply(kFtpFileStatus, "%d", {std::to_string(entry->size)});
        else
            answer = reply(kFtpFileUnavailable, kCommandFailed, {kFileNotFound});
    } catch (const std::exception& e) {
        answer = reply(kFtpFileUnavailable, kCommandFailed, {e.what()});
    }
}

// MDTM: the modification time of a file in UTC. Like every command that
// looks at the disk it needs a login: before one, any client could probe
// which files exist anywhere on the machine.
void CommandMDTM(TFtpServer&, TFtpCtrlSocket& client, std::string&, std::string& params, std::string& answer)
{
    static constexpr const char* kMdtmSyntaxError = "Syntax error in MDTM parameter.";
    if (!requireLogin(client, answer))
        return;
    client.LastCommand = TFtpCmdType::ftpcMDTM;
    try {
        const std::string path = BuildFilePath(client.WorkDir, params);
        if (params.empty()) {
            answer = reply(kFtpSyntaxError, kMdtmSyntaxError);
            return;
        }
        const std::optional<std::string> time = platform::fileExists(path) ? mdtmTimeText(path) : std::nullopt;
        if (!time)
            answer = reply(kFtpFileUnavailable, kNoSuchFile, {path});
        else
            answer = reply(kFtpFileStatus, "%s", {*time});
    } catch (const std::exception& e) {
        answer = reply(kFtpFileUnavailable, kCommandFailed, {e.what()});
    }
}

// REST n: the byte offset (64-bit) at which the next transfer starts.
void CommandREST(TFtpServer&, TFtpCtrlSocket& client, std::string&, std::string& params, std::string& answer)
{
    static constexpr const char* kReadyToResume = "REST supported. Ready to resume at byte offset %d.";
    static constexpr const char* kBadOffset = "Required byte offset parameter bad or missing.";
    static constexpr const char* kRestSyntaxError = "Syntax error in parameter: %s.";
    if (!requireLogin(client, answer))
        return;
    client.LastCommand = TFtpCmdType::ftpcREST;
    const IntegerParse offset = parseInteger(params);
    if (!offset.error.empty()) {
        client.RestartOffset = 0;
        answer = reply(kFtpSyntaxError, kRestSyntaxError, {offset.error});
    } else if (offset.value <= 0) {
        client.RestartOffset = 0;
        answer = reply(kFtpSyntaxError, kBadOffset);
    } else {
        client.RestartOffset = offset.value;
        answer = reply(kFtpPendingFurther, kReadyToResume, {std::to_string(offset.value)});
    }
}

} // namespace vesk2::ftpserver
