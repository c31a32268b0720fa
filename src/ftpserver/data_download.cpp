// Downloads: RETR and the directory listings travel from the session's
// stream to the data socket in chunks, enciphered in 2048-byte units while
// the session is enciphered, and end with the reply of their close.
//
// One chunk is handed to the socket at a time; the next is read only when
// the socket reports its buffer drained, so a session never holds more than
// one chunk of a file, whatever its size.

#include "crypto/session_key.h"
#include "ftpserver/data_channel.h"
#include "ftpserver/data_files.h"
#include "ftpserver/ftp_server.h"
#include "ftpserver/key_challenge_file.h"

#include <sstream>
#include <string>

namespace vesk2::ftpserver {

namespace {

constexpr const char* kFileSentOk = "226 File sent ok";
constexpr const char* kCannotRetr = "501 Cannot RETR. ";
constexpr const char* kConnectionClosed = "426 Connection closed; ";
constexpr const char* kReadError = "Read error";
constexpr const char* kClosedEarly = "Data connection closed by the client before the end of the data";

// Reads and hands over the next chunk; at the end of the data, posts DataDone.
void sendNextChunk(TFtpServer& server, TFtpCtrlSocket& client)
{
    TDataChannel& channel = dataChannel(client);
    try {
        channel.allocateBuffers();
        for (;;) {
            std::int64_t got = 0;
            if (client.XferStream) {
                got = readFull(*client.XferStream, channel.InBuf.data(), kDataChunkSize);
                if (got < 0) {
                    failTransfer(server, client, kReadError);
                    return;
                }
            }
            const auto n = static_cast<std::size_t>(got);
            const std::uint8_t* out = channel.InBuf.data();
            std::size_t outLen = n;
            if (channel.Cipher) {
                // Every unit but the last is whole: a chunk is a whole number of
                // units, and only the end of the source gives a short one.
                outLen = n > 0 ? channel.Cipher->update(channel.InBuf.data(), n, channel.OutBuf.data()) : 0;
                if (n < kDataChunkSize)
                    outLen += channel.Cipher->finish(channel.OutBuf.data() + outLen);
                out = channel.OutBuf.data();
            }
            client.BytesSent += got;
            if (outLen > 0) {
                // Nothing of the channel is touched after Send: a failing
                // send may close the socket, and run the close, inside it.
                client.DataLink->Send(out, static_cast<int>(outLen));
                return;
            }
            if (n == 0)
                break;
        }
    } catch (const std::exception& e) {
        failTransfer(server, client, e.what());
        return;
    }
    if (!client.DataDonePosted) {
        client.DataDonePosted = true;
        server.PostDataDone(client);
    }
}

// Makes the key-check challenge the client asked for and makes it the
// download's source. A user without a key text gets an empty transfer.
void openChallenge(TFtpServer& server, TFtpCtrlSocket& client)
{
    TDataChannel& channel = dataChannel(client);
    if (client.UserKey.empty())
        return;
    client.UserKey = crypto::cutKeyText(client.UserKey);
    channel.removeChallengeFile();
    const ChallengeFile file =
        writeKeyChallengeFile(server.WorkFilesDir, static_cast<std::uint64_t>(client.HSocket()), client.UserKey);
    client.XferPath = file.path;
    if (!file.written)
        throw FtpServerException(file.error);
    channel.ChallengePath = file.path;
    client.EncryptionReady = true;
    client.XferStream = std::make_unique<std::stringstream>(file.bytes, std::ios::in | std::ios::binary);
    client.StreamOwned = true;
}

} // namespace

void downloadConnected(TFtpServer& server, TFtpCtrlSocket& client, int error)
{
    TDataChannel& channel = dataChannel(client);
    client.DataLinkOpen = true;
    client.PassiveArmed = false;
    client.PassiveStartPending = false;
    if (error != 0) {
        channel.ConnectError = error; // the close that follows reports it
        return;
    }
    client.IdleSeconds = 0;
    try {
        if (server.OnRetrSessionConnected)
            server.OnRetrSessionConnected(server, client, *client.DataLink, error);
        if (isChallengeRequest(client.XferPath)) {
            client.freeStream();
            openChallenge(server, client);
        } else if (!client.XferPath.empty()) {
            // A file download always reads its own file, never a stream an
            // earlier transfer left behind.
            client.freeStream();
            OpenedFile opened = openForDownload(client.XferPath, client.RestartOffset);
            if (!opened.ok())
                throw FtpServerException(opened.error);
            client.XferStream = std::move(opened.stream);
            client.StreamOwned = true;
        }
        channel.Cipher.reset();
        if (client.EncryptionActive)
            channel.Cipher = std::make_unique<crypto::UnitEncoder>(crypto::makeSessionKey(client.UserKey),
                                                                   crypto::kDownloadUnitSize);
    } catch (const std::exception& e) {
        failTransfer(server, client, e.what());
        return;
    }
    sendNextChunk(server, client);
}

void downloadDataSent(TFtpServer& server, TFtpCtrlSocket& client, int error)
{
    if (client.XferAborted)
        return;
    client.IdleSeconds = 0;
    try {
        if (server.OnRetrDataSent)
            server.OnRetrDataSent(server, client, *client.DataLink, error);
    } catch (const std::exception& e) {
        failTransfer(server, client, e.what());
        return;
    }
    if (error != 0) {
        const std::string status = "Send: error #" + std::to_string(error);
        client.XferStatus = status;
        client.XferAborted = true;
        server.SendReply(client, kConnectionClosed + status + ".");
        server.PostAbortData(client);
        return;
    }
    sendNextChunk(server, client);
}

void downloadClosed(TFtpServer& server, TFtpCtrlSocket& client, int error)
{
    TDataChannel& channel = dataChannel(client);
    const int code = error != 0 ? error : channel.ConnectError;
    // The data connection ended before the source did: the client has not got
    // the whole file, which must not be reported as sent.
    const bool cutShort = !client.XferAborted && code == 0 && !client.DataDonePosted;
    resetAfterClose(client);
    channel.removeChallengeFile();

    std::string answer;
    if (client.XferAborted)
        answer = kCannotRetr + client.XferStatus;
    else if (code != 0)
        answer = kCannotRetr + ("Error #" + std::to_string(code));
    else if (cutShort)
        answer = kCannotRetr + std::string(kClosedEarly);
    else
        answer = kFileSentOk;
    server.SendReply(client, answer);
    try {
        if (server.OnRetrSessionClosed)
            server.OnRetrSessionClosed(server, client, *client.DataLink, error);
    } catch (...) {
        // The owner's bookkeeping must not disturb the session.
    }
}

} // namespace vesk2::ftpserver
