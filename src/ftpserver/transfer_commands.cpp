// Data-connection commands: PORT, PASV, RETR, STOR, APPE, LIST, NLST, ABOR.
//
// These handlers check, validate and set up the session's transfer fields and
// their own reply; the data connection itself is started by prepareDownload,
// prepareUpload and listenPassive (the data path, command_handlers.h), whose
// exceptions become each command's exception reply.

#include "ftpserver/command_handlers.h"
#include "ftpserver/data_link.h"
#include "ftpserver/ftp_server.h"
#include "ftpserver/listing.h"
#include "ftpserver/path_rules.h"
#include "platform/clock.h"

#include <algorithm>
#include <array>
#include <optional>
#include <sstream>

namespace vesk2::ftpserver {

namespace {

constexpr const char* kOpeningFor = "Opening data connection for %s.";
constexpr const char* kTransferOk = "Transfer Ok";
// The lowest port a PORT command may name: below it are the system's services.
constexpr int kLowestDataPort = 1024;

bool validate(TFtpServer& server, TFtpCtrlSocket& client, const TFtpSrvValidateXferEvent& event, std::string& path)
{
    bool allowed = true;
    if (event)
        event(server, client, path, allowed);
    return allowed;
}

// The six numbers of "h1,h2,h3,h4,p1,p2": each a run of digits (an empty
// run is 0) followed by "," while text remains. Numbers above 255 are
// refused, so no run of digits can overflow.
std::optional<std::array<int, 6>> parsePortNumbers(const std::string& text)
{
    std::array<int, 6> numbers{};
    std::size_t at = 0;
    for (int& number : numbers) {
        number = 0;
        while (at < text.size() && text[at] >= '0' && text[at] <= '9') {
            number = number * 10 + (text[at++] - '0');
            if (number > 255)
                return std::nullopt;
        }
        if (at < text.size()) {
            if (text[at] != ',')
                return std::nullopt;
            ++at;
        }
    }
    return numbers;
}

// RETR, STOR and APPE name their file with "/" separators.
void startTransferOf(TFtpCtrlSocket& client, TFtpCmdType command, const std::string& params)
{
    client.LastCommand = command;
    client.StreamOwned = false;
    client.XferName = withSlashes(params);
}

// LIST and NLST: the listing is built into an in-memory stream (unless the
// owner's OnBuildDirectory supplied one) and then sent like a file.
void listDirectory(TFtpServer& server, TFtpCtrlSocket& client, const std::string& params, bool detailed,
                   std::string& answer)
{
    static constexpr const char* kOpeningForList = "Opening data connection for directory list.";
    static constexpr const char* kListFailed = "Failed: %s.";
    try {
        client.freeStream();
        std::string argument = withSlashes(params);
        if (server.OnBuildDirectory)
            server.OnBuildDirectory(server, client, argument, detailed);
        if (!client.XferStream) {
            client.XferStream = std::make_unique<std::stringstream>();
            client.StreamOwned = true;
            const ListingResult listing = buildListing(client.WorkDir, argument, detailed, server.PermanentLinks,
                                                       server.VirtualDirs, platform::now());
            if (!listing.ok())
                throw FtpServerException(listing.error);
            client.XferStream->write(listing.text.data(), static_cast<std::streamsize>(listing.text.size()));
            if (server.OnAlterDirectory)
                server.OnAlterDirectory(server, client, argument, detailed);
            client.XferStream->clear();
            client.XferStream->seekg(0);
        }
        client.XferPath.clear();
        answer = reply(kFtpDataOpening, kOpeningForList);
        prepareDownload(server, client);
    } catch (const std::exception& e) {
        answer = reply(kFtpLocalError, kListFailed, {e.what()});
    }
}

} // namespace

// PORT names where the next active data connection goes. It may only name
// the control connection's own peer and a port from 1024 up, so that no
// client can make the server connect to a third machine or a system service.
void CommandPORT(TFtpServer&, TFtpCtrlSocket& client, std::string&, std::string& params, std::string& answer)
{
    static constexpr const char* kPortOk = "Port command successful.";
    static constexpr const char* kInvalidPort = "Invalid PORT command.";
    if (!requireLogin(client, answer))
        return;
    client.LastCommand = TFtpCmdType::ftpcPORT;
    const std::optional<std::array<int, 6>> n = parsePortNumbers(params);
    if (!n) {
        answer = reply(kFtpSyntaxError, kInvalidPort);
        return;
    }
    const std::string host = std::to_string((*n)[0]) + "." + std::to_string((*n)[1]) + "." +
                             std::to_string((*n)[2]) + "." + std::to_string((*n)[3]);
    const int port = (*n)[4] * 256 + (*n)[5];
    if (host != client.GetPeerAddr() || port < kLowestDataPort) {
        answer = reply(kFtpSyntaxError, kInvalidPort);
        return;
    }
    client.DataHost = host;
    client.DataPortText = std::to_string(port);
    answer = reply(kFtpCommandOk, kPortOk);
}

// PASV arms a listener for the next transfer on the address the client
// reached us on. LastCommand stays as it was.
void CommandPASV(TFtpServer& server, TFtpCtrlSocket& client, std::string&, std::string&, std::string& answer)
{
    static constexpr const char* kPassiveMode = "Entering Passive Mode (%d,%d,%d,%d,%d,%d).";
    static constexpr const char* kPassiveFailed = "PASV exception: '%s'.";
    if (!requireLogin(client, answer))
        return;
    try {
        net::SocketAddress local;
        if (!client.GetSockName(local))
            throw FtpServerException("Cannot get the control connection's address");
        const std::uint16_t port = listenPassive(server, client);
        const std::uint32_t a = local.addr;
        answer = reply(kFtpPassiveMode, kPassiveMode,
                       {std::to_string((a >> 24) & 255), std::to_string((a >> 16) & 255),
                        std::to_string((a >> 8) & 255), std::to_string(a & 255), std::to_string(port >> 8),
                        std::to_string(port & 255)});
        client.PassiveArmed = true;
        client.PassiveStartPending = false;
        client.PassiveLinked = false;
    } catch (const std::exception& e) {
        answer = reply(kFtpNotUnderstood, kPassiveFailed, {e.what()});
        try {
            client.DataLink->Close();
        } catch (...) {
            // The listener may not even exist; nothing to undo then.
        }
    }
}

void CommandRETR(TFtpServer& server, TFtpCtrlSocket& client, std::string&, std::string& params,
                 std::string& answer)
{
    static constexpr const char* kRefused = "Cannot RETR - Insufficient Rights.";
    static constexpr const char* kRetrFailed = "Cannot RETR. %s";
    if (!requireLogin(client, answer))
        return;
    startTransferOf(client, TFtpCmdType::ftpcRETR, params);
    try {
        std::string path = resolveAndMap(server, client, client.XferName);
        if (!validate(server, client, server.OnValidateGet, path)) {
            answer = reply(kFtpNotUnderstood, kRefused);
            return;
        }
        client.XferPath = path;
        answer = reply(kFtpDataOpening, kOpeningFor, {params});
        prepareDownload(server, client);
    } catch (const std::exception& e) {
        answer = reply(kFtpSyntaxError, kRetrFailed, {e.what()});
    }
}

// STOR resolves its path like every other file command (virtual directories
// included), so an upload lands where the client's listing shows it.
void CommandSTOR(TFtpServer& server, TFtpCtrlSocket& client, std::string&, std::string& params,
                 std::string& answer)
{
    static constexpr const char* kRefused = "Permission Denied";
    static constexpr const char* kStorFailed = "Cannot STOR. %s";
    if (!requireLogin(client, answer))
        return;
    startTransferOf(client, TFtpCmdType::ftpcSTOR, params);
    client.XferAborted = false;
    client.XferStatus = kTransferOk;
    try {
        std::string path = resolveAndMap(server, client, client.XferName);
        if (!validate(server, client, server.OnValidatePut, path)) {
            answer = reply(kFtpSyntaxError, kRefused);
            return;
        }
        client.XferPath = path;
        prepareUpload(server, client);
        answer = reply(kFtpDataOpening, kOpeningFor, {params});
    } catch (const std::exception& e) {
        answer = reply(kFtpSyntaxError, kStorFailed, {e.what()});
    }
}

// APPE appends at the file's current size (0 for a new file).
void CommandAPPE(TFtpServer& server, TFtpCtrlSocket& client, std::string&, std::string& params,
                 std::string& answer)
{
    static constexpr const char* kReadyToAppend = "APPE supported.  Ready to append file \"%s\" at offset %d.";
    static constexpr const char* kRefused = "Cannot APPE - Insufficient Rights.";
    static constexpr const char* kAppeFailed = "APPE failed.";
    if (!requireLogin(client, answer))
        return;
    startTransferOf(client, TFtpCmdType::ftpcAPPE, params);
    client.XferAborted = false;
    client.XferStatus = kTransferOk;
    try {
        std::string path = resolveAndMap(server, client, client.XferName);
        if (!validate(server, client, server.OnValidatePut, path)) {
            answer = reply(kFtpNotUnderstood, kRefused);
            return;
        }
        client.XferPath = path;
        prepareUpload(server, client);
        client.RestartOffset = std::max<std::int64_t>(0, fileSize(path));
        answer = reply(kFtpDataOpening, kReadyToAppend, {params, std::to_string(client.RestartOffset)});
    } catch (const std::exception&) {
        answer = reply(kFtpFileUnavailable, kAppeFailed);
    }
}

void CommandLIST(TFtpServer& server, TFtpCtrlSocket& client, std::string&, std::string& params,
                 std::string& answer)
{
    if (!requireLogin(client, answer))
        return;
    client.LastCommand = TFtpCmdType::ftpcLIST;
    listDirectory(server, client, params, true, answer);
}

void CommandNLST(TFtpServer& server, TFtpCtrlSocket& client, std::string&, std::string& params,
                 std::string& answer)
{
    if (!requireLogin(client, answer))
        return;
    client.LastCommand = TFtpCmdType::ftpcNLST;
    listDirectory(server, client, params, false, answer);
}

// ABOR needs no login and always succeeds; a running transfer is marked
// aborted and its data connection closed, which gives that transfer's own
// aborted reply as well. LastCommand stays as it was.
void CommandABOR(TFtpServer& server, TFtpCtrlSocket& client, std::string&, std::string&, std::string& answer)
{
    static constexpr const char* kAborOk = "ABOR command successful.";
    abortDataTransfer(server, client);
    answer = reply(kFtpAbortOk, kAborOk);
}

} // namespace vesk2::ftpserver
