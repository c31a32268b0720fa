// Opening and closing a session's data connection: the active connect to the
// address PORT gave, the passive listener of PASV and its accept, and the
// state every data connection shares. The transfers themselves are in
// data_download.cpp and data_upload.cpp.

#include "ftpserver/command_handlers.h"
#include "ftpserver/data_channel.h"
#include "ftpserver/data_link.h"
#include "ftpserver/ftp_server.h"
#include "net/resolver.h"

#include <cstdio>
#include <string>

namespace vesk2::ftpserver {

namespace {

constexpr const char* kNoPassiveListener = "No passive data connection is waiting; send PASV again";
constexpr const char* kSocketInUse = "Connect: Socket already in use";
constexpr const char* kBadDataTarget =
    "Data connections go only to the client's own address and a port of 1024 or above";
constexpr const char* kSuperseded = "Transfer replaced by a new transfer command";
constexpr const char* kAbortRequested = "ABORT requested by client";
constexpr int kLowestDataPort = 1024;

// Dotted text of an IPv4 address in host order.
std::string dottedHostOrder(std::uint32_t addr)
{
    return std::to_string((addr >> 24) & 255) + "." + std::to_string((addr >> 16) & 255) + "." +
           std::to_string((addr >> 8) & 255) + "." + std::to_string(addr & 255);
}

void detachDataHandlers(net::TWSocket& data)
{
    data.OnSessionConnected = nullptr;
    data.OnDataAvailable = nullptr;
    data.OnDataSent = nullptr;
    data.OnSessionClosed = nullptr;
}

// Closes DataLink without the events of an earlier transfer.
void closeDataLinkQuietly(TFtpCtrlSocket& client)
{
    detachDataHandlers(*client.DataLink);
    client.DataLink->Close();
}

// An active connection may only go where PORT pointed, and PORT may only
// point at the client itself: never to a third host, never to a name that
// would have to be looked up, never to a privileged port.
void checkActiveTarget(const TFtpCtrlSocket& client)
{
    if (client.DataHost.empty())
        return; // no PORT yet: the socket's own "No IP Address Specified"
    const std::string& peer = client.GetPeerAddr();
    if (!net::WSocketIsDottedIP(client.DataHost) || !net::WSocketIsDottedIP(peer) ||
        net::WSocketResolveHost(client.DataHost) != net::WSocketResolveHost(peer))
        throw FtpServerException(kBadDataTarget);
    if (net::WSocketResolvePort(client.DataPortText, "tcp") < kLowestDataPort)
        throw FtpServerException(kBadDataTarget);
}

void passiveAccept(TFtpServer& server, TFtpCtrlSocket& client, int error)
{
    TDataChannel& channel = dataChannel(client);
    if (error != 0)
        return; // the listener keeps waiting
    int handle = -1;
    try {
        handle = channel.Listener.Accept();
    } catch (const std::exception&) {
        return;
    }
    net::TWSocket& data = *client.DataLink;
    try {
        if (data.State() != net::wsClosed) {
            // DataLink carries something else: this connection has no place.
            net::TWSocket stray(client.Loop());
            stray.Dup(handle);
            stray.Abort();
            return;
        }
        detachDataHandlers(data);
        data.SetBufSize(static_cast<int>(kDataChunkSize));
        data.Dup(handle);
    } catch (const std::exception&) {
        return;
    }
    const std::string from = data.GetPeerAddr();
    if (from != client.GetPeerAddr()) {
        // Someone else raced the client to the port: turn them away, keep waiting.
        data.Abort();
        if (server.OnDisplay)
            server.OnDisplay(server, &client, "Refused a passive data connection from " + from + " (not " +
                                                  client.GetPeerAddr() + ")");
        return;
    }
    channel.Listener.OnSessionAvailable = nullptr;
    channel.Listener.Close();
    client.PassiveLinked = true;
    if (client.PassiveStartPending && channel.Kind != TransferKind::tkNone) {
        attachDataHandlers(server, client, channel.Kind);
        runConnectedStep(server, client, channel.Kind, 0);
    } else {
        // The transfer command is still to come: whatever the client sends
        // waits in the system until it does.
        data.Pause();
    }
}

} // namespace

// ---- the channel ----------------------------------------------------------------

TDataChannel::TDataChannel(net::EventLoop& loop) : Listener(loop) { Listener.Name = "PassiveWSocket"; }

TDataChannel::~TDataChannel()
{
    Listener.OnSessionAvailable = nullptr;
    removeChallengeFile();
}

void TDataChannel::allocateBuffers()
{
    if (InBuf.size() != kDataChunkSize)
        InBuf.assign(kDataChunkSize, 0);
    // Room for a chunk and the incomplete unit a cipher may have held back.
    const std::size_t outSize = kDataChunkSize + crypto::kDownloadUnitSize;
    if (OutBuf.size() != outSize)
        OutBuf.assign(outSize, 0);
}

void TDataChannel::releaseBuffers()
{
    std::vector<std::uint8_t>().swap(InBuf);
    std::vector<std::uint8_t>().swap(OutBuf);
}

void TDataChannel::removeChallengeFile()
{
    if (ChallengePath.empty())
        return;
    std::remove(ChallengePath.c_str());
    ChallengePath.clear();
}

TDataChannel& dataChannel(TFtpCtrlSocket& client)
{
    if (!client.DataChannel)
        client.DataChannel = std::make_shared<TDataChannel>(client.Loop());
    return *client.DataChannel;
}

// ---- shared steps -----------------------------------------------------------------

void attachDataHandlers(TFtpServer& server, TFtpCtrlSocket& client, TransferKind kind)
{
    net::TWSocket& data = *client.DataLink;
    detachDataHandlers(data);
    auto& srv = server;
    auto& c = client;
    switch (kind) {
    case TransferKind::tkDownload:
        data.OnSessionConnected = [&srv, &c](net::TCustomWSocket&, int e) { downloadConnected(srv, c, e); };
        data.OnDataSent = [&srv, &c](net::TCustomWSocket&, int e) { downloadDataSent(srv, c, e); };
        data.OnSessionClosed = [&srv, &c](net::TCustomWSocket&, int e) { downloadClosed(srv, c, e); };
        break;
    case TransferKind::tkStore:
    case TransferKind::tkAppend:
        data.OnSessionConnected = [&srv, &c](net::TCustomWSocket&, int e) { uploadConnected(srv, c, e); };
        data.OnDataAvailable = [&srv, &c](net::TCustomWSocket&, int e) { uploadDataAvailable(srv, c, e); };
        data.OnSessionClosed = [&srv, &c](net::TCustomWSocket&, int e) { uploadClosed(srv, c, e); };
        break;
    case TransferKind::tkNone:
        break;
    }
}

void runConnectedStep(TFtpServer& server, TFtpCtrlSocket& client, TransferKind kind, int error)
{
    if (kind == TransferKind::tkDownload)
        downloadConnected(server, client, error);
    else if (kind != TransferKind::tkNone)
        uploadConnected(server, client, error);
}

void resetAfterClose(TFtpCtrlSocket& client)
{
    client.DataLinkOpen = false;
    client.PassiveStartPending = false;
    client.PassiveLinked = false;
    client.RestartOffset = 0;
    client.DataPortText = "ftp-data";
    if (client.StreamOwned)
        client.freeStream();
    TDataChannel& channel = dataChannel(client);
    channel.Kind = TransferKind::tkNone;
    channel.Cipher.reset();
    channel.ConnectError = 0;
    // The buffers go once the loop is out of the socket's callbacks, unless a
    // new transfer has started by then.
    client.Loop().post(client, [&client] {
        TDataChannel& ch = dataChannel(client);
        if (ch.Kind == TransferKind::tkNone)
            ch.releaseBuffers();
    });
}

void failTransfer(TFtpServer& server, TFtpCtrlSocket& client, const std::string& message)
{
    client.XferStatus = message;
    client.XferAborted = true;
    server.PostAbortData(client);
}

void supersedeRunningTransfer(TFtpCtrlSocket& client, const std::string& reason)
{
    net::TWSocket& data = *client.DataLink;
    if (data.State() == net::wsClosed)
        return;
    TDataChannel& channel = dataChannel(client);
    if (channel.Kind == TransferKind::tkNone) {
        closeDataLinkQuietly(client); // a passive connection no transfer used
        return;
    }
    // The running transfer ends as a failure; what the new command already
    // set up for itself survives the close.
    auto stream = std::move(client.XferStream);
    const bool owned = client.StreamOwned;
    client.StreamOwned = false;
    const std::int64_t offset = client.RestartOffset;
    const std::string port = client.DataPortText;
    const std::string path = client.XferPath;
    // A download whose last byte has already been handed over only waits
    // for its DataDone: it ends as sent.
    if (!(channel.Kind == TransferKind::tkDownload && client.DataDonePosted)) {
        client.XferAborted = true;
        client.XferStatus = reason;
    }
    data.Close();
    client.XferStream = std::move(stream);
    client.StreamOwned = owned;
    client.RestartOffset = offset;
    client.DataPortText = port;
    client.XferPath = path;
}

void startDataConnection(TFtpServer& server, TFtpCtrlSocket& client, TransferKind kind)
{
    TDataChannel& channel = dataChannel(client);
    net::TWSocket& data = *client.DataLink;

    if (client.PassiveArmed) {
        if (client.PassiveLinked) {
            if (data.State() != net::wsConnected) {
                client.PassiveLinked = false;
                throw FtpServerException(kNoPassiveListener);
            }
            channel.Kind = kind;
            attachDataHandlers(server, client, kind);
            data.Resume();
            runConnectedStep(server, client, kind, 0);
            return;
        }
        if (channel.Listener.State() != net::wsListening)
            throw FtpServerException(kNoPassiveListener);
        channel.Kind = kind;
        client.PassiveStartPending = true;
        return;
    }

    if (kind == TransferKind::tkDownload)
        data.Close(); // after supersedeRunningTransfer: nothing runs on it
    else if (data.State() != net::wsClosed)
        throw FtpServerException(kSocketInUse);
    checkActiveTarget(client);
    data.SetProto("tcp");
    data.SetAddr(client.DataHost);
    data.SetPort(client.DataPortText);
    data.SetLingerOnOff(net::wsLingerOff);
    data.SetLingerTimeout(0);
    data.SetBufSize(static_cast<int>(kDataChunkSize));
    channel.Kind = kind;
    attachDataHandlers(server, client, kind);
    try {
        data.Connect();
    } catch (const net::ESocketException&) {
        const int refused = data.LastError();
        if (refused == 0) {
            channel.Kind = TransferKind::tkNone;
            closeDataLinkQuietly(client);
            throw;
        }
        // The system refused at once what it usually refuses a moment later:
        // the transfer ends the same way, through its close with the error.
        channel.ConnectError = refused;
        client.Loop().post(client, [&server, &client, kind] {
            if (client.DataLink->State() != net::wsClosed)
                client.DataLink->Close();
            else if (kind == TransferKind::tkDownload)
                downloadClosed(server, client, 0);
            else
                uploadClosed(server, client, 0);
        });
    }
}

namespace {

// A reply is one line: an exception text with line breaks in it (the socket
// layer's "Error n in function f\r\ntext") is joined into one.
[[noreturn]] void rethrowOnOneLine(const std::exception& e)
{
    std::string text = e.what();
    std::string line;
    for (char c : text) {
        if (c == '\r')
            continue;
        line += c == '\n' ? ' ' : c;
    }
    throw FtpServerException(line);
}

} // namespace

// ---- entry points of the transfer commands -----------------------------------------

void prepareDownload(TFtpServer& server, TFtpCtrlSocket& client)
{
    if (!client.PassiveArmed)
        supersedeRunningTransfer(client, kSuperseded);
    client.XferAborted = false;
    client.DataDonePosted = false;
    client.XferStatus = kXferStatusOk;
    try {
        startDataConnection(server, client, TransferKind::tkDownload);
    } catch (const std::exception& e) {
        rethrowOnOneLine(e);
    }
}

void prepareUpload(TFtpServer& server, TFtpCtrlSocket& client)
{
    client.XferAborted = false;
    client.XferStatus = kXferStatusOk;
    try {
        startDataConnection(server, client,
                            client.LastCommand == TFtpCmdType::ftpcAPPE ? TransferKind::tkAppend
                                                                        : TransferKind::tkStore);
    } catch (const std::exception& e) {
        rethrowOnOneLine(e);
    }
}

std::uint16_t listenPassive(TFtpServer& server, TFtpCtrlSocket& client)
{
    supersedeRunningTransfer(client, kSuperseded);
    closeDataLinkQuietly(client);
    TDataChannel& channel = dataChannel(client);
    channel.Listener.OnSessionAvailable = nullptr;
    channel.Listener.Close();

    // Listen where the client reached us, so the 227 address is one it can use.
    net::SocketAddress local;
    if (!client.GetSockName(local))
        throw FtpServerException("Cannot read the control connection's address");
    try {
        channel.Listener.SetProto("tcp");
        channel.Listener.SetAddr(dottedHostOrder(local.addr));
        channel.Listener.SetPort("0");
        channel.Listener.OnSessionAvailable = [&server, &client](net::TCustomWSocket&, int e) {
            passiveAccept(server, client, e);
        };
        channel.Listener.Listen();
        const std::string port = channel.Listener.GetXPort();
        const int number = std::stoi(port);
        if (number <= 0 || number > 65535)
            throw FtpServerException("No passive port");
        client.PassiveArmed = true;
        client.PassiveStartPending = false;
        client.PassiveLinked = false;
        return static_cast<std::uint16_t>(number);
    } catch (const std::exception& e) {
        channel.Listener.OnSessionAvailable = nullptr;
        channel.Listener.Close();
        rethrowOnOneLine(e);
    }
}

void abortDataTransfer(TFtpServer& server, TFtpCtrlSocket& client)
{
    net::TWSocket& data = *client.DataLink;
    TDataChannel& channel = dataChannel(client);
    if (data.State() == net::wsConnected || data.State() == net::wsConnecting) {
        if (channel.Kind == TransferKind::tkNone) {
            closeDataLinkQuietly(client); // a passive connection no transfer used yet
            return;
        }
        client.XferStatus = kAbortRequested;
        client.XferAborted = true;
        data.Close();
        return;
    }
    if (client.PassiveStartPending && channel.Kind != TransferKind::tkNone) {
        // The client was told 150 and waits for this transfer's last reply.
        const TransferKind kind = channel.Kind;
        channel.Listener.OnSessionAvailable = nullptr;
        channel.Listener.Close();
        client.PassiveArmed = false;
        client.XferStatus = kAbortRequested;
        client.XferAborted = true;
        if (kind == TransferKind::tkDownload)
            downloadClosed(server, client, 0);
        else
            uploadClosed(server, client, 0);
    }
}

} // namespace vesk2::ftpserver
