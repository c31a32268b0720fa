// Current-directory commands: CWD, CDUP, PWD, XPWD.

#include "ftpserver/command_handlers.h"
#include "ftpserver/ftp_server.h"
#include "ftpserver/path_rules.h"
#include "ftpserver/shortcut.h"
#include "platform/file_system.h"

namespace vesk2::ftpserver {

namespace {

constexpr const char* kCwdOk = "CWD command successful. \"%s\" is current directory.";
constexpr const char* kCwdFailed = "CWD failed. %s";
constexpr const char* kNoPermission = "No permission";
constexpr const char* kShortcutSuffix = ".LNK";

// What the client asked for after shortcuts and permanent links: a shortcut
// file "<name>.LNK" in the current directory names its target; otherwise a
// permanent link of exactly that name names its directory (the last such
// link wins). `replaced` tells whether either happened.
std::string followLinks(TFtpServer& server, TFtpCtrlSocket& client, const std::string& requested, bool& replaced)
{
    replaced = false;
    if (!requested.empty()) {
        const std::string shortcut = BuildFilePath(client.WorkDir, requested) + kShortcutSuffix;
        if (platform::fileExists(shortcut)) {
            ShortcutReadResult read = readShortcutFile(shortcut, kCwdShortcutBufferSize);
            if (!read.ok())
                throw FtpServerException(read.error);
            replaced = true;
            return withSlashes(read.target);
        }
    }
    std::string target = requested;
    for (const PermanentLinkEntry& link : server.PermanentLinks) {
        if (!link.isFree() && link.LinkName == requested) {
            target = link.DirectoryPath;
            replaced = true;
        }
    }
    return target;
}

ChangeDirResult changeOrThrow(const std::string& workDir, const std::string& requested)
{
    ChangeDirResult result = ChangeWorkDir(workDir, requested);
    if (!result.ok())
        throw FtpServerException(result.error);
    return result;
}

// The body of CWD and CDUP. WorkDir is left as it was unless the change
// succeeds and the owner allows it.
void changeDirectory(TFtpServer& server, TFtpCtrlSocket& client, const std::string& params, std::string& answer)
{
    const std::string fallback = client.WorkDir;
    try {
        bool replaced = false;
        const std::string requested = followLinks(server, client, withSlashes(params), replaced);
        std::string dir = changeOrThrow(client.WorkDir, trimmed(requested)).WorkDir;
        // A path the client typed from the root may name a virtual directory;
        // a link or shortcut target is a real path already.
        if (!replaced && !requested.empty() && requested[0] == '/')
            dir = changeOrThrow(dir, MapVirtualToReal(server.VirtualDirs, dir)).WorkDir;
        client.WorkDir = dir;

        bool allowed = true;
        if (server.OnChangeDirectory)
            server.OnChangeDirectory(server, client, client.WorkDir, allowed);
        if (!allowed) {
            client.WorkDir = fallback;
            answer = reply(kFtpSyntaxError, kCwdFailed, {kNoPermission});
            return;
        }
        answer = reply(kFtpFileActionOk, kCwdOk, {requested});
    } catch (const std::exception& e) {
        client.WorkDir = fallback;
        answer = reply(kFtpSyntaxError, kCwdFailed, {e.what()});
    }
}

void printWorkDir(TFtpServer& server, TFtpCtrlSocket& client, std::string& answer)
{
    static constexpr const char* kCurrentDirectory = "\"%s\" is current directory.";
    answer = reply(kFtpPathName, kCurrentDirectory, {withSlashes(PwdDisplay(server.VirtualDirs, client.WorkDir))});
}

} // namespace

void CommandCWD(TFtpServer& server, TFtpCtrlSocket& client, std::string&, std::string& params, std::string& answer)
{
    if (!requireLogin(client, answer))
        return;
    client.LastCommand = TFtpCmdType::ftpcCWD;
    changeDirectory(server, client, params, answer);
}

void CommandCDUP(TFtpServer& server, TFtpCtrlSocket& client, std::string&, std::string& params, std::string& answer)
{
    if (!requireLogin(client, answer))
        return;
    client.LastCommand = TFtpCmdType::ftpcCDUP;
    params = "..";
    changeDirectory(server, client, params, answer);
}

void CommandPWD(TFtpServer& server, TFtpCtrlSocket& client, std::string&, std::string&, std::string& answer)
{
    if (!requireLogin(client, answer))
        return;
    client.LastCommand = TFtpCmdType::ftpcPWD;
    printWorkDir(server, client, answer);
}

void CommandXPWD(TFtpServer& server, TFtpCtrlSocket& client, std::string&, std::string&, std::string& answer)
{
    if (!requireLogin(client, answer))
        return;
    client.LastCommand = TFtpCmdType::ftpcXPWD;
    printWorkDir(server, client, answer);
}

} // namespace vesk2::ftpserver
