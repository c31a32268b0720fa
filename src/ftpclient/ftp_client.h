#pragma once
// TFtpClient: the asynchronous FTP client component.
//
// Contract
// - Everything runs on the event loop's thread. A request method either starts
//   its request and returns, or throws FtpException with a fixed text and
//   starts nothing. At most one request runs at a time.
// - Every started request ends with exactly one OnRequestDone (request kind,
//   result; 0 is success), always posted: it is never raised from inside a
//   request method or a socket handler, so its handler may start the next one.
//   The kind reported is that of the request that ended.
// - A failed request leaves the reply code in the result, and the first failing
//   reply line in ErrorMessage (cleared only when a multi-step request starts).
// - The control connection and data connections are two TWSocket objects owned
//   by the client; the data socket is reused for every transfer.
// - While the shared TEncryptionState says so, data connections are enciphered
//   in units: 2048 bytes towards the client, 1514 bytes towards the server.
// - The client must not be destroyed inside one of its own event handlers.

#include "crypto/unit_stream.h"
#include "ftpclient/data_socket.h"
#include "ftpclient/encryption_state.h"
#include "ftpclient/ftp_types.h"
#include "ftpclient/local_file.h"
#include "net/event_loop.h"
#include "net/wsocket.h"

#include <array>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vesk2::ftpclient {

class TFtpClient : public net::EventTarget {
public:
    // With an encryption state of its own.
    explicit TFtpClient(net::EventLoop& loop);
    // With the encryption state it shares with the session controller.
    TFtpClient(net::EventLoop& loop, TEncryptionState& encryption);
    ~TFtpClient() override;

    // ---- properties ---------------------------------------------------------
    std::string HostName;
    std::string Port = "ftp";
    std::string UserName;
    std::string PassWord;
    std::string MyPublicKey, MyPrivateKey, ServerPublicKey;
    std::string HostDirName;
    std::string HostFileName;
    std::string LocalFileName;
    bool DisplayFileFlag = false;
    bool Binary = true;
    TFtpShareMode ShareMode = ftpShareExclusive;
    unsigned Options = ftpAcceptLF; // a set of TFtpOption
    std::string ProxyServer;
    int Timeout = 15;               // seconds, for the synchronous wrapper
    bool MultiThreaded = false;
    // The texts the Pubk request appends to MyPublicKey (the settings'
    // CurrentKeyLength and CurrentKeyBits).
    std::string CurrentKeyLength, CurrentKeyBits;
    std::int64_t ResumeAt = 0;

    TFtpConnectionType ConnectionType() const { return m_connectionType; }
    // Throws "FTP component connected" while connected.
    void SetConnectionType(TFtpConnectionType type);
    bool Passive() const { return m_passive; }
    // Takes the value only with ftpDirect; the other types keep passive on.
    void SetPassive(bool value);

    // The proxy for both connections. Every connection the client makes (the
    // control connection and each data connection) goes through it while
    // SocksServer is not empty.
    std::string SocksServer() const { return m_socksServer; }
    void SetSocksServer(const std::string& value) { m_socksServer = value; }
    std::string SocksPort() const { return m_socksPort; }
    void SetSocksPort(const std::string& value) { m_socksPort = value; }
    std::string SocksUserCode() const { return m_socksUserCode; }
    void SetSocksUserCode(const std::string& value) { m_socksUserCode = value; }
    std::string SocksPassword() const { return m_socksPassword; }
    void SetSocksPassword(const std::string& value) { m_socksPassword = value; }

    // ---- results ------------------------------------------------------------
    TFtpClientState State() const { return m_state; }
    bool ControlConnected() const { return m_controlConnected; }
    // True while the control socket is not closed.
    bool Connected() const;
    TFtpRequestKind RequestType() const { return m_requestType; }
    int StatusCode() const { return m_statusCode; }
    const std::string& LastResponse() const { return m_lastResponse; }
    const std::string& ErrorMessage() const { return m_errorMessage; }
    int RequestResult() const { return m_requestResult; }
    const std::string& DirResult() const { return m_dirResult; }
    std::int64_t SizeResult() const { return m_sizeResult; }
    std::int64_t ByteCount() const { return m_byteCount; }
    TEncryptionState& Encryption() { return *m_encryption; }
    net::TWSocket& ControlSocket() { return m_controlSocket; }
    net::TWSocket& DataSocket() { return m_dataSocket; }

    // ---- events -------------------------------------------------------------
    std::function<void(TFtpClient&, std::string& message)> OnDisplay;
    std::function<void(TFtpClient&, const std::string& text)> OnDisplayFile;
    std::function<void(TFtpClient&, std::string& command)> OnCommand;
    std::function<void(TFtpClient&)> OnResponse;
    std::function<void(TFtpClient&, std::int64_t count, bool& abort)> OnProgress;
    std::function<void(TFtpClient&, int error)> OnSessionConnected;
    std::function<void(TFtpClient&, int error)> OnSessionClosed;
    std::function<void(TFtpClient&, TFtpRequestKind kind, int error)> OnRequestDone;
    std::function<void(TFtpClient&)> OnStateChange;
    std::function<void(TFtpClient&, bool& cancel)> OnReadyToTransmit;
    std::function<void(TFtpClient&, const std::exception& e, bool& canClose)> OnBgException;

    // ---- single-step requests -----------------------------------------------
    void Open();
    void User();
    void Pass();
    void Pubk();
    void Cwd();
    void CDup();
    void Pwd();
    void Syst();
    void Size();
    void TypeSet();
    void TypeBinary();
    void TypeAscii();
    void Mkd();
    void Rmd();
    void Dele();
    void RenFrom();
    void RenTo();
    void Quote();
    void Rest();
    void Quit();
    void PortRequest(); // the port step alone (request kind 9)
    // Local: closes everything at once, sends nothing.
    void Abort();

    // ---- multi-step requests ------------------------------------------------
    void Connect();
    void Get();
    void Put();
    void Append();
    void Dir();
    void Ls();
    void RestGet();
    void RestPut();
    void Ren();
    void Receive();
    void RestartReceive();
    void Transmit();
    void RestartTransmit();
    void AppendFile();
    void Directory();
    void List();
    void SystemInfo();
    void FileSize();
    void MkDir();
    void RmDir();
    void Delete();
    void Rename();
    void DoQuote();

    // ---- synchronous wrapper ------------------------------------------------
    // Starts a request and runs the event loop until the client is ready again
    // and the request's OnRequestDone has been raised (handlers see the
    // completion before the caller goes on). Returns whether the request
    // succeeded; false when it could not start, and
    // after Timeout seconds without progress (the client is then aborted, with
    // ErrorMessage "426 Timeout" and StatusCode 426).
    bool Synchronize(void (TFtpClient::*request)());
    bool OpenSync() { return Synchronize(&TFtpClient::Open); }
    bool CwdSync() { return Synchronize(&TFtpClient::Cwd); }
    bool TypeSetSync() { return Synchronize(&TFtpClient::TypeSet); }
    bool TypeBinarySync() { return Synchronize(&TFtpClient::TypeBinary); }
    bool QuitSync() { return Synchronize(&TFtpClient::Quit); }
    bool AbortSync() { return Synchronize(&TFtpClient::Abort); }

    // Transfer buffer sizes (bytes moved per turn of the loop).
    static constexpr std::size_t kReceiveChunk = 256 * 1024;
    static constexpr std::size_t kSendChunk = 43 * crypto::kUploadUnitSize; // 65102, whole units
    static constexpr int kDataBufSize = 64 * 1024;

private:
    using Step = void (TFtpClient::*)();
    enum PostedEvent { peRequestDone = 1, peStartUpload = 2, peContinueUpload = 3 };
    enum class AcceptMode { none, download, upload };
    enum class ConnectMode { none, download, upload };
    enum class ReceiveMode { discard, download };
    enum class CloseMode { none, download, upload };

    void wireSockets();
    void onPosted(int kind, std::intptr_t a, std::intptr_t b) override;
    void runGuarded(const std::function<void()>& work);

    // Core (ftp_client.cpp).
    void setState(TFtpClientState state);
    void checkReady();
    void checkConnected();
    [[noreturn]] void HandleError(const std::string& message);
    void setErrorMessage();
    void sendCommand(std::string command);
    void execAsync(TFtpRequestKind kind, const std::string& command, std::initializer_list<int> okCodes,
                   Step doneStep);
    void nextExecAsync();
    void interpretAnswer();
    void triggerRequestDone(int result);
    void display(const std::string& message);
    void closeDataSocket();
    void highLevelAsync(TFtpRequestKind kind, TFtpStepSet steps);
    void sequencer();
    void startStep(TFtpStep step);
    void quitDone();

    // Control connection handlers.
    void onControlLookupDone(int error);
    void onControlConnected(int error);
    void onControlData(int error);
    void onControlClosed(int error);
    void handleLine(int error);
    void applySocks(net::TWSocket& socket);

    // Data path (ftp_client_data.cpp).
    void portStep();
    void connectPassive(ConnectMode mode);
    void downloadStep(const char* dataCommand);
    void retrieveStep() { downloadStep("RETR"); }
    void listStep() { downloadStep("LIST"); }
    void nameListStep() { downloadStep("NLST"); }
    void uploadStep(bool append);
    void storeStep() { uploadStep(false); }
    void appendStep() { uploadStep(true); }
    void restStep();
    void firstDownloadAnswer();
    void finalDownloadAnswer();
    void firstUploadAnswer();
    void finalUploadAnswer();
    void onDataSessionAvailable(int error);
    void onDataConnected(int error);
    void onDataAvailable(int error);
    void onDataSent(int error);
    void onDataClosed(int error);
    void downloadData();
    void deliverDownloaded(const std::uint8_t* data, std::size_t n);
    void sendNextBlock(int error);
    void tryFinishTransfer();
    bool raiseProgress();
    void closeLocalFile();
    std::int64_t nowMs() const;

    // Sockets and shared state.
    std::unique_ptr<TEncryptionState> m_ownEncryption;
    TEncryptionState* m_encryption;
    net::TWSocket m_controlSocket;
    TFtpDataSocket m_dataSocket;

    // Control connection and request machinery.
    TFtpClientState m_state = fcsReady;
    TFtpConnectionType m_connectionType = ftpDirect;
    bool m_passive = false;
    std::string m_socksServer, m_socksPort, m_socksUserCode, m_socksPassword;
    bool m_controlConnected = false;
    TFtpRequestKind m_requestType = rkNone;
    bool m_requestDoneFlag = true;
    int m_statusCode = 0;
    std::string m_lastResponse;
    std::string m_errorMessage;
    int m_requestResult = 0;
    std::array<int, 17> m_okResponses{};
    Step m_next = nullptr;
    Step m_doneStep = nullptr;
    Step m_nextRequest = nullptr;
    TFtpStepSet m_steps;
    TFtpStep m_previousStep = ftsNone;
    bool m_highLevelFlag = false;
    int m_highLevelResult = 0;
    std::string m_savedResponse;
    int m_savedCode = -1;
    std::array<char, 4096> m_receiveBuffer{};
    std::size_t m_receiveLen = 0;
    std::string m_passiveAnswer;
    std::string m_controlAddr; // the address the control connection went to
    std::string m_dirResult;
    std::int64_t m_sizeResult = 0;
    bool m_closingOnPurpose = false;

    // Synchronous wrapper.
    int m_undeliveredDone = 0; // request-done events posted, not yet raised
    bool m_syncWaiting = false;
    std::int64_t m_syncDeadline = 0;

    // Data path.
    AcceptMode m_acceptMode = AcceptMode::none;
    ConnectMode m_connectMode = ConnectMode::none;
    ReceiveMode m_receiveMode = ReceiveMode::discard;
    CloseMode m_closeMode = CloseMode::none;
    bool m_sendOnDataSent = false;
    std::string m_dataCommand;
    bool m_append = false;
    TLocalFile m_localFile;
    std::int64_t m_byteCount = 0;
    bool m_commandDone = false;
    bool m_dataClosed = false;
    int m_dataError = 0;
    bool m_uploadAnswered = false;
    bool m_uploadConnected = false;
    bool m_endOfFile = false;
    // The first fault on our side of a transfer (receive, send, local read or
    // write error): it fails a transfer the server calls complete.
    int m_transferFault = 0;
    std::string m_transferFaultText;
    std::int64_t m_startTime = 0;
    std::int64_t m_stopTime = 0;
    std::optional<crypto::UnitDecoder> m_decoder;
    std::optional<crypto::UnitEncoder> m_encoder;
    std::vector<std::uint8_t> m_transferBuffer;
    std::vector<std::uint8_t> m_cipherBuffer;
};

// The class name an exception is reported with in reply-like texts
// ("ESocketException", "FtpException", "Exception").
std::string exceptionClassName(const std::exception& e);

} // namespace vesk2::ftpclient
