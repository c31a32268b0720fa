#pragma once
// TDataChannel: the working state of one session's data path, beside the
// transfer fields of TTransferState. It holds what lives between two socket
// callbacks of a transfer: the passive listener, the chunk buffers and the
// unit cipher of an enciphered transfer. Only the data_*.cpp files use it.
//
// Data moves in chunks of kDataChunkSize bytes. A download chunk is 128 whole
// units of 2048 bytes, and only the last chunk of a file is shorter, so an
// enciphered download is cut exactly where sending one unit at a time would
// cut it. The buffers are allocated when a data connection opens and released
// when it closes, so an idle session holds none.

#include "crypto/unit_stream.h"
#include "net/event_loop.h"
#include "net/wsocket.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vesk2::ftpserver {

class TFtpServer;
class TFtpCtrlSocket;

inline constexpr std::size_t kDataChunkSize = 128 * crypto::kDownloadUnitSize; // 256 KiB

// XferStatus of a transfer that has not failed.
inline constexpr char kXferStatusOk[] = "Transfer Ok";

// What the session's next (or current) data connection carries.
enum class TransferKind { tkNone, tkDownload, tkStore, tkAppend };

class TDataChannel {
public:
    explicit TDataChannel(net::EventLoop& loop);
    ~TDataChannel();
    TDataChannel(const TDataChannel&) = delete;
    TDataChannel& operator=(const TDataChannel&) = delete;

    // PASV's listener; closed as soon as the client's data connection came in.
    net::TWSocket Listener;
    TransferKind Kind = TransferKind::tkNone;
    // The error of an active connect that failed; the close reports it.
    int ConnectError = 0;
    // The upload's file was opened once in this transfer: it is never opened
    // (and so never truncated) a second time, even if its stream was freed.
    bool FileOpened = false;
    // The client ended its upload stream (a receive gave 0 bytes).
    bool EndOfStream = false;
    // The challenge file this session's download sends; deleted when it ends.
    std::string ChallengePath;
    // Enciphers a download or deciphers an upload while EncryptionActive.
    std::unique_ptr<crypto::UnitStream> Cipher;
    std::vector<std::uint8_t> InBuf;
    std::vector<std::uint8_t> OutBuf;

    void allocateBuffers();
    void releaseBuffers();
    // Deletes the challenge file, if one was made.
    void removeChallengeFile();
};

// The session's data channel, made on first use.
TDataChannel& dataChannel(TFtpCtrlSocket& client);

// ---- shared by the download, upload and passive files ------------------------

// Ends a data connection that is still open because a new transfer (or PASV)
// replaces it: the running transfer is marked aborted with `reason` and closed,
// so it answers as a failure, while the fields the new command already set
// (stream, path, restart offset) are kept for it.
void supersedeRunningTransfer(TFtpCtrlSocket& client, const std::string& reason);

// Opens the data connection for `kind`: passive when PASV armed a listener
// (at once when the client is already connected, else when it connects),
// otherwise active to DataHost:DataPortText. Throws when it cannot start.
void startDataConnection(TFtpServer& server, TFtpCtrlSocket& client, TransferKind kind);

// Attaches the handlers of `kind` to DataLink (none for tkNone).
void attachDataHandlers(TFtpServer& server, TFtpCtrlSocket& client, TransferKind kind);
// The connected step of `kind`, as the data socket's connected event runs it.
void runConnectedStep(TFtpServer& server, TFtpCtrlSocket& client, TransferKind kind, int error);

void downloadConnected(TFtpServer& server, TFtpCtrlSocket& client, int error);
void downloadDataSent(TFtpServer& server, TFtpCtrlSocket& client, int error);
void downloadClosed(TFtpServer& server, TFtpCtrlSocket& client, int error);
void uploadConnected(TFtpServer& server, TFtpCtrlSocket& client, int error);
void uploadDataAvailable(TFtpServer& server, TFtpCtrlSocket& client, int error);
void uploadClosed(TFtpServer& server, TFtpCtrlSocket& client, int error);

// The state every closed data connection resets (both directions).
void resetAfterClose(TFtpCtrlSocket& client);

// A transfer step failed: the transfer is aborted with `message` and the data
// socket shut down and closed from the loop (AbortData).
void failTransfer(TFtpServer& server, TFtpCtrlSocket& client, const std::string& message);

} // namespace vesk2::ftpserver
