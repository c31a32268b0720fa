// TFtpClient: the data connection. The port step, downloads (RETR, LIST,
// NLST) and uploads (STOR, APPE), progress, the statistics line and the
// enciphered units of an encrypted session.
//
// Plain transfers move large blocks per turn of the loop. Enciphered ones go
// through a UnitDecoder or UnitEncoder, so the units on the wire are exactly
// 2048 bytes (download) or 1514 bytes (upload), the last one shorter, however
// the bytes arrive or are read.

#include "ftpclient/ftp_client.h"

#include "ftpclient/reply_parser.h"
#include "net/winsock_errors.h"

#include <algorithm>

namespace vesk2::ftpclient {

namespace {

constexpr int kBlocksPerTurn = 8;
constexpr char kMsgLocalReadFailed[] = "426 Error reading local file ";
constexpr char kErrBadPassiveAnswer[] = "No data port in the passive answer: ";

bool isOneOf(int code, std::initializer_list<int> codes)
{
    return std::find(codes.begin(), codes.end(), code) != codes.end();
}

} // namespace

// ---- port step --------------------------------------------------------------

void TFtpClient::portStep()
{
    checkReady();
    checkConnected();
    closeDataSocket();
    m_dataSocket.SetProto("tcp");
    m_dataSocket.SetAddr("0.0.0.0");
    m_dataSocket.SetPort("0");
    m_passiveAnswer.clear();
    std::string command = "PASV";
    if (!m_passive) {
        m_dataSocket.SetLingerOnOff(net::wsLingerOn);
        m_dataSocket.SetLingerTimeout(10);
        // Through a proxy the socket refuses to listen, with its own text.
        applySocks(m_dataSocket);
        m_dataSocket.Listen();
        net::SocketAddress bound, local, remote;
        m_dataSocket.GetSockName(bound);
        m_controlSocket.GetSockName(local);
        m_controlSocket.GetPeerName(remote);
        command = buildPortCommand(local.addr, remote.addr, bound.port);
    }
    m_byteCount = 0;
    m_previousStep = ftsPort;
    execAsync(rkPort, command, {200, kCodePassive}, nullptr);
}

void TFtpClient::connectPassive(ConnectMode mode)
{
    // The address numbers of the answer are not used: the data connection
    // goes where the control connection went.
    const auto port = parsePassivePort(m_passiveAnswer);
    if (!port)
        throw FtpException(kErrBadPassiveAnswer + m_passiveAnswer);
    m_dataSocket.SetProto("tcp");
    m_dataSocket.SetAddr(m_controlAddr);
    m_dataSocket.SetPort(std::to_string(*port));
    m_dataSocket.SetLingerOnOff(net::wsLingerOff);
    m_dataSocket.SetLingerTimeout(0);
    applySocks(m_dataSocket);
    m_connectMode = mode;
    m_dataSocket.Connect();
}

// ---- downloads --------------------------------------------------------------

void TFtpClient::downloadStep(const char* dataCommand)
{
    if (!m_controlConnected)
        HandleError(std::string(dataCommand) + kErrNotConnectedSuffix);
    if (LocalFileName.empty() && !DisplayFileFlag)
        HandleError(kErrLocalFileNameEmpty);
    checkReady();
    closeLocalFile();
    m_decoder.reset();
    if (m_encryption->EncryptionActive)
        m_decoder.emplace(m_encryption->SessionKey, crypto::kDownloadUnitSize);
    if (!m_highLevelFlag) {
        const std::string command = dataCommand;
        m_requestType = command == "RETR" ? rkGet : command == "LIST" ? rkDir : rkLs;
    }
    m_dataCommand = dataCommand;
    m_commandDone = false;
    m_dataClosed = false;
    m_requestDoneFlag = false;
    m_byteCount = 0;
    m_dataError = 0;
    m_transferFault = 0;
    m_transferFaultText.clear();
    m_acceptMode = AcceptMode::download;

    if (!DisplayFileFlag) {
        const bool opened = ResumeAt > 0 ? m_localFile.openForWriteAt(LocalFileName, ResumeAt)
                                         : m_localFile.createForWrite(LocalFileName);
        if (!opened) {
            m_lastResponse = kMsgUnableToOpenLocal + LocalFileName;
            m_statusCode = kCodeLocalFailure;
            setErrorMessage();
            closeDataSocket();
            triggerRequestDone(kCodeLocalFailure);
            return;
        }
    }
    if (m_passive) {
        try {
            connectPassive(ConnectMode::download);
        } catch (const std::exception& e) {
            m_lastResponse = "550 " + exceptionClassName(e) + ": " + e.what();
            m_statusCode = kCodeLocalFailure;
            setErrorMessage();
            closeDataSocket();
            closeLocalFile();
            triggerRequestDone(kCodeLocalFailure);
            return;
        }
    }
    setState(fcsWaitingResponse);
    m_next = &TFtpClient::firstDownloadAnswer;
    m_closingOnPurpose = false;
    sendCommand(HostFileName.empty() ? m_dataCommand : m_dataCommand + " " + HostFileName);
}

void TFtpClient::firstDownloadAnswer()
{
    display("< " + m_lastResponse);
    m_statusCode = parseReplyCode(m_lastResponse).value_or(ReplyCode{}).code;
    if (isOneOf(m_statusCode, {150, 125})) {
        m_next = &TFtpClient::finalDownloadAnswer;
        return;
    }
    setErrorMessage();
    m_next = nullptr;
    closeDataSocket();
    closeLocalFile();
    ResumeAt = 0;
    m_requestResult = m_statusCode;
    triggerRequestDone(m_statusCode);
}

void TFtpClient::finalDownloadAnswer()
{
    display("< " + m_lastResponse);
    m_statusCode = parseReplyCode(m_lastResponse).value_or(ReplyCode{}).code;
    if (isOneOf(m_statusCode, {125, 226, 250})) {
        m_commandDone = true;
        tryFinishTransfer();
        return;
    }
    setErrorMessage();
    closeLocalFile();
    closeDataSocket();
    display(kShowDownloadFailed);
    ResumeAt = 0;
    m_requestResult = m_statusCode;
    triggerRequestDone(m_statusCode);
}

void TFtpClient::downloadData()
{
    if (raiseProgress()) {
        display(kShowAbortRequested);
        m_dataSocket.Close();
        return;
    }
    if (m_transferBuffer.size() < kReceiveChunk)
        m_transferBuffer.resize(kReceiveChunk);
    const int n = m_dataSocket.Receive(m_transferBuffer.data(), static_cast<int>(kReceiveChunk));
    if (n < 0) {
        const int error = m_dataSocket.LastError();
        if (m_dataSocket.State() == net::wsConnected && error != net::WSAEWOULDBLOCK) {
            display(kShowReceiveError + std::to_string(error));
            if (m_transferFault == 0)
                m_transferFault = error;
            m_dataSocket.ShutDown(2);
        }
        return;
    }
    if (n == 0)
        return;
    m_byteCount += n;
    const std::uint8_t* out = m_transferBuffer.data();
    std::size_t outLen = static_cast<std::size_t>(n);
    if (m_decoder) {
        const std::size_t room = m_decoder->updateSize(outLen);
        if (m_cipherBuffer.size() < room)
            m_cipherBuffer.resize(room);
        outLen = m_decoder->update(m_transferBuffer.data(), outLen, m_cipherBuffer.data());
        out = m_cipherBuffer.data();
    }
    deliverDownloaded(out, outLen);
}

void TFtpClient::deliverDownloaded(const std::uint8_t* data, std::size_t n)
{
    if (n == 0)
        return;
    if (m_localFile.isOpen() && m_transferFault != kCodeLocalFailure) {
        if (!m_localFile.write(data, n)) {
            display(kShowWriteError);
            m_transferFault = kCodeLocalFailure;
            m_transferFaultText = kMsgLocalWriteFailed + LocalFileName;
            if (m_dataSocket.State() == net::wsConnected)
                m_dataSocket.ShutDown(2);
        }
    }
    if (DisplayFileFlag && OnDisplayFile) {
        for (const std::string& piece : splitDisplayLines(
                 std::string_view(reinterpret_cast<const char*>(data), n)))
            OnDisplayFile(*this, piece);
    }
}

// ---- uploads ----------------------------------------------------------------

void TFtpClient::uploadStep(bool append)
{
    m_append = append;
    m_requestType = append ? rkAppend : rkPut;
    if (!m_controlConnected)
        HandleError(kErrUploadNotConnected);
    if (LocalFileName.empty())
        HandleError(kErrLocalFileNameEmpty);
    checkReady();
    m_commandDone = false;
    m_dataClosed = false;
    m_requestDoneFlag = false;
    m_uploadConnected = false;
    m_uploadAnswered = false;
    m_startTime = 0;
    m_byteCount = 0;
    m_dataError = 0;
    m_transferFault = 0;
    m_transferFaultText.clear();

    bool cancel = false;
    if (OnReadyToTransmit)
        OnReadyToTransmit(*this, cancel);
    if (cancel) {
        m_errorMessage = kMsgTransmitCancelled;
        m_statusCode = kCodeUploadFailure;
        display("! " + m_errorMessage);
        m_requestResult = kCodeUploadFailure;
        triggerRequestDone(kCodeUploadFailure);
        return;
    }
    m_acceptMode = AcceptMode::upload;
    closeLocalFile();
    m_encoder.reset();
    if (m_encryption->EncryptionActive)
        m_encoder.emplace(m_encryption->SessionKey, crypto::kUploadUnitSize);
    if (!m_localFile.openForRead(LocalFileName, ResumeAt)) {
        m_errorMessage = kMsgUploadUnableToOpen + LocalFileName;
        m_statusCode = kCodeUploadFailure;
        display("! " + m_errorMessage);
        closeDataSocket();
        m_requestResult = kCodeUploadFailure;
        triggerRequestDone(kCodeUploadFailure);
        return;
    }
    m_endOfFile = false;
    if (m_passive) {
        // STOR or APPE follows once the data connection is up.
        try {
            connectPassive(ConnectMode::upload);
        } catch (const std::exception& e) {
            m_lastResponse = "426 " + exceptionClassName(e) + ": " + e.what();
            m_statusCode = kCodeUploadFailure;
            setErrorMessage();
            closeDataSocket();
            closeLocalFile();
            triggerRequestDone(kCodeUploadFailure);
        }
        return;
    }
    setState(fcsWaitingResponse);
    m_next = &TFtpClient::firstUploadAnswer;
    m_closingOnPurpose = false;
    sendCommand((m_append ? "APPE " : "STOR ") + HostFileName);
}

void TFtpClient::firstUploadAnswer()
{
    display("< " + m_lastResponse);
    const auto reply = parseReplyCode(m_lastResponse);
    if (!reply || reply->continuation)
        return;
    m_statusCode = reply->code;
    if (isOneOf(m_statusCode, {150, 125})) {
        m_uploadAnswered = true;
        m_next = &TFtpClient::finalUploadAnswer;
        if (m_passive) {
            m_sendOnDataSent = true;
            sendNextBlock(0);
        } else if (m_uploadConnected && m_startTime == 0) {
            Loop().post(*this, peStartUpload);
        }
        return;
    }
    setErrorMessage();
    m_next = nullptr;
    closeDataSocket();
    closeLocalFile();
    ResumeAt = 0;
    m_requestResult = m_statusCode;
    triggerRequestDone(m_statusCode);
}

void TFtpClient::finalUploadAnswer()
{
    display("< " + m_lastResponse);
    const auto reply = parseReplyCode(m_lastResponse);
    if (!reply || reply->continuation)
        return;
    m_statusCode = reply->code;
    if (isOneOf(m_statusCode, {226, 250})) {
        m_commandDone = true;
        tryFinishTransfer();
        return;
    }
    setErrorMessage();
    closeLocalFile();
    closeDataSocket();
    display(kShowUploadFailed);
    ResumeAt = 0;
    m_requestResult = m_statusCode;
    triggerRequestDone(m_statusCode);
}

void TFtpClient::sendNextBlock(int error)
{
    if (!m_localFile.isOpen())
        return;
    if (raiseProgress()) {
        display(kShowAbortRequested);
        m_dataSocket.Close();
        return;
    }
    if (error != 0) {
        display("! Error #" + std::to_string(error) + " sending data");
        if (m_transferFault == 0)
            m_transferFault = error;
        m_dataSocket.Close();
        return;
    }
    if (m_endOfFile || !m_uploadAnswered || !m_uploadConnected)
        return;
    if (m_transferBuffer.size() < kSendChunk)
        m_transferBuffer.resize(kSendChunk);
    // Blocks the system takes at once are followed by the next one in the same
    // turn (a few at most, so the loop keeps moving).
    for (int blocks = 0; blocks < kBlocksPerTurn;) {
        const auto got = m_localFile.read(m_transferBuffer.data(), kSendChunk);
        if (!got) {
            display(kShowReadError);
            m_transferFault = kCodeUploadFailure;
            m_transferFaultText = kMsgLocalReadFailed + LocalFileName;
            // An abortive close, so the server does not take the part it got
            // for the whole file.
            m_dataSocket.Abort();
            return;
        }
        const std::uint8_t* out = m_transferBuffer.data();
        std::size_t outLen = *got;
        if (m_encoder) {
            const std::size_t room = *got == 0 ? m_encoder->pending() : m_encoder->updateSize(*got);
            if (m_cipherBuffer.size() < room)
                m_cipherBuffer.resize(room);
            outLen = *got == 0 ? m_encoder->finish(m_cipherBuffer.data())
                               : m_encoder->update(m_transferBuffer.data(), *got, m_cipherBuffer.data());
            out = m_cipherBuffer.data();
        }
        if (*got == 0 && outLen == 0) {
            // The whole file is out: a graceful close ends the upload.
            m_endOfFile = true;
            m_dataSocket.Close();
            return;
        }
        if (outLen == 0)
            continue; // a short read that did not complete a unit
        m_byteCount += static_cast<std::int64_t>(outLen);
        // The next block is read when the socket has handed this one to the
        // system, so at most one block waits in its buffer.
        const int len = static_cast<int>(outLen);
        const int direct = m_dataSocket.SendDirect(out, len);
        if (direct < len) {
            // The rest waits in the socket; OnDataSent asks for the next block.
            m_dataSocket.Send(out + direct, len - direct);
            return;
        }
        ++blocks;
    }
    // The system took every block of this turn: go on in the next one.
    Loop().post(*this, peContinueUpload);
}

// ---- data socket events -----------------------------------------------------

void TFtpClient::onDataSessionAvailable(int)
{
    const AcceptMode mode = m_acceptMode;
    m_acceptMode = AcceptMode::none;
    if (mode == AcceptMode::none || m_requestDoneFlag) {
        // Nobody waits for a data connection: stop listening.
        closeDataSocket();
        return;
    }
    const int handle = m_dataSocket.Accept();
    m_dataSocket.Close(); // the listening socket
    if (mode == AcceptMode::download) {
        m_receiveMode = ReceiveMode::download;
        m_closeMode = CloseMode::download;
        m_sendOnDataSent = false;
        m_dataSocket.Dup(handle);
        m_startTime = nowMs();
        return;
    }
    m_closeMode = CloseMode::upload;
    m_receiveMode = ReceiveMode::discard;
    m_sendOnDataSent = true;
    m_dataSocket.SetLingerOnOff(net::wsLingerOff);
    m_dataSocket.SetLingerTimeout(10);
    m_dataSocket.Dup(handle);
    m_uploadConnected = true;
    if (m_uploadAnswered && m_startTime == 0)
        Loop().post(*this, peStartUpload);
}

void TFtpClient::onDataConnected(int error)
{
    const ConnectMode mode = m_connectMode;
    m_connectMode = ConnectMode::none;
    if (mode == ConnectMode::none)
        return;
    if (error != 0) {
        m_lastResponse = kMsgDataConnectFailed + std::to_string(error);
        m_statusCode = kCodeLocalFailure;
        setErrorMessage();
        closeDataSocket();
        closeLocalFile();
        triggerRequestDone(kCodeLocalFailure);
        return;
    }
    m_startTime = nowMs();
    if (mode == ConnectMode::download) {
        m_receiveMode = ReceiveMode::download;
        m_closeMode = CloseMode::download;
        return;
    }
    m_closeMode = CloseMode::upload;
    m_receiveMode = ReceiveMode::discard;
    m_uploadConnected = true;
    setState(fcsWaitingResponse);
    m_next = &TFtpClient::firstUploadAnswer;
    m_closingOnPurpose = false;
    sendCommand((m_append ? "APPE " : "STOR ") + HostFileName);
}

void TFtpClient::onDataAvailable(int)
{
    if (m_receiveMode == ReceiveMode::download) {
        downloadData();
        return;
    }
    // Nothing is expected on this connection: read and drop it.
    char discard[2048];
    m_dataSocket.Receive(discard, sizeof discard);
}

void TFtpClient::onDataSent(int error)
{
    if (m_sendOnDataSent)
        sendNextBlock(error);
}

void TFtpClient::onDataClosed(int error)
{
    if (m_closeMode == CloseMode::none)
        return;
    m_closeMode = CloseMode::none;
    m_sendOnDataSent = false;
    closeLocalFile();
    m_dataClosed = true;
    m_dataError = error;
    tryFinishTransfer();
}

// ---- shared -----------------------------------------------------------------

void TFtpClient::tryFinishTransfer()
{
    if (!m_commandDone || !m_dataClosed)
        return;
    m_stopTime = nowMs();
    const std::int64_t start = m_startTime != 0 ? m_startTime : m_stopTime;
    display("! " + transferStatistics(m_byteCount, m_stopTime - start));
    ResumeAt = 0;
    int result = m_dataError;
    // A transfer that lost bytes on our side is not a success, whatever the
    // server answered. A local write failure also outranks the close error:
    // the reset that may follow is our own shut-down of the connection.
    if (m_transferFault != 0 && (result == 0 || m_transferFault == kCodeLocalFailure)) {
        result = m_transferFault;
        if (m_errorMessage.empty())
            m_errorMessage = m_transferFaultText.empty() ? kShowReceiveError + std::to_string(m_transferFault)
                                                         : m_transferFaultText;
    }
    m_requestResult = result;
    triggerRequestDone(result);
}

bool TFtpClient::raiseProgress()
{
    if (m_syncWaiting && Timeout > 0)
        m_syncDeadline = nowMs() + static_cast<std::int64_t>(Timeout) * 1000;
    bool abort = false;
    if (OnProgress)
        OnProgress(*this, m_byteCount + ResumeAt, abort);
    return abort;
}

void TFtpClient::closeLocalFile()
{
    // The last, shorter unit of an enciphered download is deciphered and
    // written before the file closes.
    if (m_decoder && m_decoder->pending() > 0) {
        const std::size_t room = m_decoder->pending();
        if (m_cipherBuffer.size() < room)
            m_cipherBuffer.resize(room);
        const std::size_t n = m_decoder->finish(m_cipherBuffer.data());
        deliverDownloaded(m_cipherBuffer.data(), n);
    }
    if (m_encoder)
        m_encoder->reset();
    if (m_localFile.isOpen() && !m_localFile.close() && m_transferFault == 0) {
        m_transferFault = kCodeLocalFailure;
        m_transferFaultText = kMsgLocalWriteFailed + LocalFileName;
    }
}

} // namespace vesk2::ftpclient
