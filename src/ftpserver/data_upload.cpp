// Uploads: STOR and APPE receive the client's data stream into the file at
// XferPath, deciphering it in 1514-byte units while the session is
// enciphered, and answer when the client closes the data connection.
//
// The file is opened when the data connection opens (so an empty upload
// still makes its file), once per transfer, and written chunk by chunk as the
// data arrives; an enciphered upload holds back at most one incomplete unit.

#include "crypto/session_key.h"
#include "ftpserver/data_channel.h"
#include "ftpserver/data_files.h"
#include "ftpserver/ftp_server.h"

#include <cerrno>
#include <cstring>
#include <string>

namespace vesk2::ftpserver {

namespace {

constexpr const char* kFileReceivedOk = "226 File received ok";
constexpr const char* kConnectionClosed = "426 Connection closed; ";
constexpr const char* kTransferAbortedError = "426 Connection closed; transfer aborted. Error #";

std::string writeError(const std::string& path)
{
    const int saved = errno;
    return "Cannot write file \"" + path + "\". " + (saved != 0 ? std::strerror(saved) : "Write error");
}

// Opens the upload's file the first time this transfer needs it.
bool openUploadFile(TFtpServer& server, TFtpCtrlSocket& client)
{
    TDataChannel& channel = dataChannel(client);
    if (channel.FileOpened || client.StreamOwned || client.XferPath.empty() || client.XferStream)
        return true;
    channel.FileOpened = true;
    UploadOpenMode mode = UploadOpenMode::umCreate;
    if (channel.Kind == TransferKind::tkAppend)
        mode = UploadOpenMode::umAppend;
    else if (client.RestartOffset > 0)
        mode = UploadOpenMode::umResume; // REST then STOR keeps what the file already holds
    OpenedFile opened = openForUpload(client.XferPath, mode, client.RestartOffset);
    if (!opened.ok()) {
        failTransfer(server, client, opened.error);
        return false;
    }
    client.XferStream = std::move(opened.stream);
    client.StreamOwned = true;
    return true;
}

bool writeToFile(TFtpServer& server, TFtpCtrlSocket& client, const std::uint8_t* data, std::size_t size)
{
    if (!client.XferStream)
        return true; // the stream was taken away (idle disconnect): the data has nowhere to go
    errno = 0;
    if (writeAll(*client.XferStream, data, size))
        return true;
    failTransfer(server, client, writeError(client.XferPath));
    return false;
}

// The client's stream ended: the bytes of a last, shorter unit are deciphered and written.
void writeFinalUnit(TFtpServer& server, TFtpCtrlSocket& client)
{
    TDataChannel& channel = dataChannel(client);
    if (!channel.Cipher || channel.Cipher->pending() == 0 || client.XferAborted)
        return;
    channel.allocateBuffers();
    const std::size_t n = channel.Cipher->finish(channel.OutBuf.data());
    writeToFile(server, client, channel.OutBuf.data(), n);
}

} // namespace

void uploadConnected(TFtpServer& server, TFtpCtrlSocket& client, int error)
{
    TDataChannel& channel = dataChannel(client);
    client.DataLinkOpen = true;
    client.PassiveArmed = false;
    client.PassiveStartPending = false;
    channel.FileOpened = false;
    channel.EndOfStream = false;
    channel.Cipher.reset();
    if (error != 0) {
        channel.ConnectError = error;
        return;
    }
    client.IdleSeconds = 0;
    try {
        if (client.EncryptionActive)
            channel.Cipher = std::make_unique<crypto::UnitDecoder>(crypto::makeSessionKey(client.UserKey),
                                                                   crypto::kUploadUnitSize);
        channel.allocateBuffers();
        if (server.OnStorSessionConnected)
            server.OnStorSessionConnected(server, client, *client.DataLink, error);
        openUploadFile(server, client);
    } catch (const std::exception& e) {
        failTransfer(server, client, e.what());
    }
}

void uploadDataAvailable(TFtpServer& server, TFtpCtrlSocket& client, int error)
{
    TDataChannel& channel = dataChannel(client);
    try {
        channel.allocateBuffers();
        const int n = client.DataLink->Receive(channel.InBuf.data(), static_cast<int>(kDataChunkSize));
        if (n == 0 && !channel.EndOfStream) {
            channel.EndOfStream = true;
            writeFinalUnit(server, client);
        }
        if (n <= 0 || client.XferAborted)
            return;
        client.IdleSeconds = 0;
        if (server.OnStorDataAvailable)
            server.OnStorDataAvailable(server, client, *client.DataLink,
                                       reinterpret_cast<const char*>(channel.InBuf.data()), n, error);
        if (!openUploadFile(server, client))
            return;
        const auto size = static_cast<std::size_t>(n);
        if (!channel.Cipher) {
            writeToFile(server, client, channel.InBuf.data(), size);
            return;
        }
        const std::size_t plain = channel.Cipher->update(channel.InBuf.data(), size, channel.OutBuf.data());
        writeToFile(server, client, channel.OutBuf.data(), plain);
    } catch (const std::exception& e) {
        failTransfer(server, client, e.what());
    }
}

void uploadClosed(TFtpServer& server, TFtpCtrlSocket& client, int error)
{
    TDataChannel& channel = dataChannel(client);
    const int code = error != 0 ? error : channel.ConnectError;
    if (code == 0) {
        try {
            writeFinalUnit(server, client);
            // What the stream still buffers must reach the file before the
            // client is told the file arrived.
            if (!client.XferAborted && client.StreamOwned && client.XferStream) {
                errno = 0;
                if (!client.XferStream->flush()) {
                    client.XferAborted = true;
                    client.XferStatus = writeError(client.XferPath);
                }
            }
        } catch (const std::exception& e) {
            client.XferAborted = true;
            client.XferStatus = e.what();
        }
    }
    resetAfterClose(client);
    try {
        if (server.OnStorSessionClosed)
            server.OnStorSessionClosed(server, client, *client.DataLink, error);
    } catch (...) {
        // The owner's bookkeeping must not cost the client its reply.
    }
    if (client.XferAborted)
        server.SendReply(client, kConnectionClosed + client.XferStatus + ".");
    else if (code != 0)
        server.SendReply(client, kTransferAbortedError + std::to_string(code));
    else
        server.SendReply(client, kFileReceivedOk);
}

} // namespace vesk2::ftpserver
