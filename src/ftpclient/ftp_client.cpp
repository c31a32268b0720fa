// TFtpClient: states, the request machinery, the control connection and the
// multi-step sequencer.

#include "ftpclient/ftp_client.h"

#include "ftpclient/reply_parser.h"
#include "net/socket_exception.h"
#include "net/winsock_errors.h"

#include <algorithm>
#include <chrono>
#include <cstring>

namespace vesk2::ftpclient {

namespace {

// The order in which the sequencer takes the steps of a multi-step request.
constexpr TFtpStep kStepOrder[] = {
    ftsOpen, ftsUser,  ftsPass, ftsCwd,        ftsCDup,     ftsType, ftsPort, ftsRest,
    ftsRetrieve, ftsStore, ftsAppend, ftsList, ftsNameList, ftsSyst, ftsMkd,  ftsRmd,
    ftsRenameFrom, ftsRenameTo, ftsSize, ftsDele, ftsPwd, ftsQuote, ftsQuit,
};

std::string winsockReply(int error)
{
    return "500 " + net::WSocketErrorDesc(error) + " (Winsock error #" + std::to_string(error) + ")";
}

} // namespace

std::string exceptionClassName(const std::exception& e)
{
    if (dynamic_cast<const net::ESocketException*>(&e))
        return "ESocketException";
    if (dynamic_cast<const FtpException*>(&e))
        return "FtpException";
    return "Exception";
}

TFtpClient::TFtpClient(net::EventLoop& loop)
    : EventTarget(loop),
      m_ownEncryption(std::make_unique<TEncryptionState>()),
      m_encryption(m_ownEncryption.get()),
      m_controlSocket(loop),
      m_dataSocket(loop)
{
    wireSockets();
}

TFtpClient::TFtpClient(net::EventLoop& loop, TEncryptionState& encryption)
    : EventTarget(loop), m_encryption(&encryption), m_controlSocket(loop), m_dataSocket(loop)
{
    wireSockets();
}

TFtpClient::~TFtpClient()
{
    // No event reaches the owner from here on.
    m_closeMode = CloseMode::none;
    m_controlSocket.OnSessionClosed = nullptr;
    m_dataSocket.OnSessionClosed = nullptr;
    closeLocalFile();
}

void TFtpClient::wireSockets()
{
    m_controlSocket.Name = "FtpControlSocket";
    m_controlSocket.OnDnsLookupDone = [this](net::TCustomWSocket&, int e) { onControlLookupDone(e); };
    m_controlSocket.OnSessionConnected = [this](net::TCustomWSocket&, int e) { onControlConnected(e); };
    m_controlSocket.OnDataAvailable = [this](net::TCustomWSocket&, int e) { onControlData(e); };
    m_controlSocket.OnSessionClosed = [this](net::TCustomWSocket&, int e) { onControlClosed(e); };

    m_dataSocket.Name = "FtpDataSocket";
    m_dataSocket.SetBufSize(kDataBufSize);
    m_dataSocket.OnSessionAvailable = [this](net::TCustomWSocket&, int e) { onDataSessionAvailable(e); };
    m_dataSocket.OnSessionConnected = [this](net::TCustomWSocket&, int e) { onDataConnected(e); };
    m_dataSocket.OnDataAvailable = [this](net::TCustomWSocket&, int e) { onDataAvailable(e); };
    m_dataSocket.OnDataSent = [this](net::TCustomWSocket&, int e) { onDataSent(e); };
    m_dataSocket.OnSessionClosed = [this](net::TCustomWSocket&, int e) { onDataClosed(e); };
}

std::int64_t TFtpClient::nowMs() const
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// ---- properties -------------------------------------------------------------

bool TFtpClient::Connected() const { return m_controlSocket.State() != net::wsClosed; }

void TFtpClient::SetConnectionType(TFtpConnectionType type)
{
    if (m_controlConnected)
        HandleError(kErrConnected);
    m_connectionType = type;
    // The SOCKS level and authentication are written to each socket before it
    // connects (applySocks), because every close resets them.
    if (type != ftpDirect)
        m_passive = true;
}

void TFtpClient::SetPassive(bool value)
{
    m_passive = m_connectionType == ftpDirect ? value : true;
}

// ---- core -------------------------------------------------------------------

void TFtpClient::setState(TFtpClientState state)
{
    if (state == m_state)
        return;
    m_state = state;
    if (OnStateChange)
        OnStateChange(*this);
}

void TFtpClient::HandleError(const std::string& message) { throw FtpException(message); }

void TFtpClient::checkReady()
{
    if (m_state != fcsReady && m_state != fcsInternalReady)
        HandleError(kErrNotReady);
}

void TFtpClient::checkConnected()
{
    if (!m_controlConnected)
        HandleError(kErrNotConnected);
}

void TFtpClient::setErrorMessage()
{
    if (m_errorMessage.empty())
        m_errorMessage = m_lastResponse;
}

void TFtpClient::display(const std::string& message)
{
    if (!OnDisplay)
        return;
    std::string text = message;
    OnDisplay(*this, text);
}

void TFtpClient::sendCommand(std::string command)
{
    if (OnCommand)
        OnCommand(*this, command);
    // A name taken from a listing must not smuggle a second command onto the
    // control connection: the command ends at its first line break or NUL.
    command = command.substr(0, command.find_first_of(std::string_view("\r\n\0", 3)));
    display("> " + command);
    if (m_controlSocket.State() == net::wsConnected)
        m_controlSocket.SendStr(command + "\r\n");
}

void TFtpClient::execAsync(TFtpRequestKind kind, const std::string& command, std::initializer_list<int> okCodes,
                           Step doneStep)
{
    checkReady();
    checkConnected();
    if (!m_highLevelFlag)
        m_requestType = kind;
    std::size_t i = 0;
    for (int code : okCodes) {
        if (i >= m_okResponses.size() - 1)
            break;
        m_okResponses[i++] = code;
    }
    m_okResponses[i] = 0;
    m_requestDoneFlag = false;
    m_closingOnPurpose = false;
    m_next = &TFtpClient::nextExecAsync;
    m_doneStep = doneStep;
    setState(fcsWaitingResponse);
    sendCommand(command);
}

void TFtpClient::nextExecAsync()
{
    display("< " + m_lastResponse);
    const auto reply = parseReplyCode(m_lastResponse);
    if (!reply || reply->continuation)
        return;
    m_statusCode = reply->code;
    bool ok;
    if (m_okResponses[0] != 0) {
        ok = false;
        for (std::size_t i = 0; i < m_okResponses.size() && m_okResponses[i] != 0; ++i)
            ok = ok || m_okResponses[i] == m_statusCode;
    } else {
        ok = m_statusCode < 500;
    }
    if (ok) {
        m_requestResult = 0;
    } else {
        m_requestResult = m_statusCode;
        setErrorMessage();
    }
    if (m_passive && m_statusCode == kCodePassive)
        m_passiveAnswer = m_lastResponse;
    if (m_requestResult == 0)
        interpretAnswer();
    if (m_doneStep)
        (this->*m_doneStep)();
    else
        triggerRequestDone(m_requestResult);
}

void TFtpClient::interpretAnswer()
{
    switch (m_previousStep) {
    case ftsSize:
        m_sizeResult = parseSizeReply(m_lastResponse);
        break;
    case ftsCwd:
    case ftsMkd:
    case ftsPwd:
    case ftsCDup:
        m_dirResult = parseQuotedPath(m_lastResponse);
        break;
    default:
        break;
    }
}

void TFtpClient::closeDataSocket()
{
    m_acceptMode = AcceptMode::none;
    m_connectMode = ConnectMode::none;
    m_receiveMode = ReceiveMode::discard;
    m_closeMode = CloseMode::none;
    m_sendOnDataSent = false;
    if (m_dataSocket.State() != net::wsClosed)
        m_dataSocket.Close();
}

void TFtpClient::triggerRequestDone(int result)
{
    if (m_requestDoneFlag)
        return;
    m_requestDoneFlag = true;
    if (result == 0 && m_nextRequest) {
        if (m_state != fcsAborting)
            setState(fcsInternalReady);
        try {
            (this->*m_nextRequest)();
        } catch (const std::exception& e) {
            // A later step could not start (a property it needs is empty, a
            // socket refused): the multi-step request ends here, reported.
            m_lastResponse = "500 " + exceptionClassName(e) + ": " + e.what();
            m_statusCode = kCodeConnectFailure;
            m_requestResult = kCodeConnectFailure;
            setErrorMessage();
            m_nextRequest = nullptr;
            m_steps.clear();
            m_requestDoneFlag = false;
            triggerRequestDone(kCodeConnectFailure);
        }
        return;
    }
    setState(fcsReady);
    closeDataSocket();
    closeLocalFile();
    if (m_highLevelFlag && m_savedCode != -1) {
        m_lastResponse = m_savedResponse;
        m_statusCode = m_savedCode;
    }
    m_highLevelFlag = false;
    // The event carries the kind of the request that ended: a request started
    // before it is delivered (after a synchronous call) must not take it over.
    ++m_undeliveredDone;
    Loop().post(*this, peRequestDone, static_cast<std::intptr_t>(static_cast<std::uint16_t>(result)),
                static_cast<std::intptr_t>(m_requestType));
}

void TFtpClient::runGuarded(const std::function<void()>& work)
{
    try {
        work();
    } catch (const std::exception& e) {
        bool canClose = true;
        if (OnBgException) {
            try {
                OnBgException(*this, e, canClose);
            } catch (...) {
            }
        }
        if (canClose) {
            try {
                Abort();
            } catch (...) {
            }
        }
    }
}

void TFtpClient::onPosted(int kind, std::intptr_t a, std::intptr_t b)
{
    runGuarded([&] {
        switch (kind) {
        case peRequestDone:
            --m_undeliveredDone;
            if (OnRequestDone)
                OnRequestDone(*this, static_cast<TFtpRequestKind>(b), static_cast<int>(a));
            break;
        case peStartUpload:
            m_startTime = nowMs();
            sendNextBlock(0);
            break;
        case peContinueUpload:
            if (m_sendOnDataSent)
                sendNextBlock(0);
            break;
        default:
            break;
        }
    });
}

// ---- control connection -----------------------------------------------------

void TFtpClient::applySocks(net::TWSocket& socket)
{
    if (m_socksServer.empty())
        return;
    socket.SetSocksServer(m_socksServer);
    socket.SetSocksPort(m_socksPort);
    socket.SocksUsercode = m_socksUserCode;
    socket.SocksPassword = m_socksPassword;
    switch (m_connectionType) {
    case ftpSocks4:
        socket.SetSocksLevel("4");
        socket.SocksAuthentication = net::socksAuthenticateUsercode;
        break;
    case ftpSocks4A:
        socket.SetSocksLevel("4A");
        socket.SocksAuthentication = net::socksAuthenticateUsercode;
        break;
    case ftpSocks5:
        socket.SetSocksLevel("5");
        socket.SocksAuthentication = net::socksAuthenticateUsercode;
        break;
    default:
        socket.SetSocksLevel("5");
        socket.SocksAuthentication = net::socksNoAuthentication;
        break;
    }
}

void TFtpClient::Open()
{
    checkReady();
    if (m_controlConnected)
        HandleError(kErrAlreadyConnected);
    if (!m_highLevelFlag)
        m_requestType = rkOpen;
    m_requestDoneFlag = false;
    m_receiveLen = 0;
    m_requestResult = 0;
    m_controlAddr.clear();
    ServerPublicKey.clear();
    m_closingOnPurpose = false;
    setState(fcsResolving);
    const std::string host = m_connectionType == ftpProxy ? ProxyServer : HostName;
    try {
        m_controlSocket.DnsLookup(host);
    } catch (const std::exception&) {
        // An unusable name: the lookup has already reported its error, unless
        // the resolver itself refused.
        if (!m_requestDoneFlag)
            onControlLookupDone(net::WSAEINVAL);
    }
}

void TFtpClient::onControlLookupDone(int error)
{
    if (error != 0) {
        m_lastResponse = winsockReply(error);
        m_statusCode = kCodeConnectFailure;
        m_requestResult = kCodeConnectFailure;
        setErrorMessage();
        triggerRequestDone(error);
        return;
    }
    try {
        m_controlAddr = m_controlSocket.DnsResult();
        m_controlSocket.SetAddr(m_controlAddr);
        m_controlSocket.SetProto("tcp");
        m_controlSocket.SetPort(Port);
        applySocks(m_controlSocket);
        setState(fcsWaitingBanner);
        m_controlSocket.Connect();
    } catch (const std::exception& e) {
        m_lastResponse = "500 " + exceptionClassName(e) + ": " + e.what();
        m_statusCode = kCodeConnectFailure;
        m_requestResult = kCodeConnectFailure;
        setErrorMessage();
        triggerRequestDone(kCodeConnectFailure);
    }
}

void TFtpClient::onControlConnected(int error)
{
    if (error == 0) {
        m_controlConnected = true;
        return;
    }
    m_lastResponse = winsockReply(error);
    m_statusCode = kCodeConnectFailure;
    m_requestResult = kCodeConnectFailure;
    setErrorMessage();
    m_nextRequest = nullptr;
    triggerRequestDone(error);
    if (m_controlSocket.State() != net::wsClosed)
        m_controlSocket.Close();
    setState(fcsReady);
}

void TFtpClient::onControlData(int error)
{
    const std::size_t limit = m_receiveBuffer.size() - 1; // 4095
    if (m_receiveLen >= limit) {
        // A line longer than the buffer: the server is not speaking FTP.
        m_controlSocket.Close();
        return;
    }
    const int n = m_controlSocket.Receive(m_receiveBuffer.data() + m_receiveLen,
                                          static_cast<int>(limit - m_receiveLen));
    if (n == 0) {
        m_controlSocket.Close();
        return;
    }
    if (n < 0)
        return;
    m_receiveLen += static_cast<std::size_t>(n);
    handleLine(error);
}

void TFtpClient::handleLine(int error)
{
    while (m_receiveLen > 0) {
        const char* begin = m_receiveBuffer.data();
        const char* end = begin + m_receiveLen;
        const char* lf = std::find(begin, end, '\n');
        std::size_t lineEnd; // index of the line end
        std::size_t consumed;
        if (Options & ftpAcceptLF) {
            if (lf == end)
                return;
            lineEnd = static_cast<std::size_t>(lf - begin);
            consumed = lineEnd + 1;
        } else {
            const char* p = begin;
            for (;;) {
                p = std::find(p, end, '\n');
                if (p == end)
                    return;
                if (p > begin && p[-1] == '\r')
                    break;
                ++p;
            }
            lineEnd = static_cast<std::size_t>(p - begin) - 1;
            consumed = lineEnd + 2;
        }
        std::string line(begin, lineEnd);
        while (!line.empty() && (line.back() == '\r' || line.back() == '\n'))
            line.pop_back();
        std::memmove(m_receiveBuffer.data(), begin + consumed, m_receiveLen - consumed);
        m_receiveLen -= consumed;
        m_lastResponse = line;
        if (OnResponse)
            OnResponse(*this);

        switch (m_state) {
        case fcsWaitingBanner: {
            display("< " + line);
            const auto reply = parseReplyCode(line.empty() ? std::string_view("220-") : std::string_view(line));
            if (!reply || reply->continuation)
                break;
            m_statusCode = reply->code;
            if (reply->code != kCodeBanner) {
                setErrorMessage();
                m_requestResult = reply->code;
                m_controlSocket.Close();
                break;
            }
            setState(fcsConnected);
            if (OnSessionConnected)
                OnSessionConnected(*this, error);
            triggerRequestDone(0);
            break;
        }
        case fcsWaitingResponse:
            if (isFinalReplyLine(line)) {
                if (!m_next)
                    HandleError(kErrNextIsNil);
                (this->*m_next)();
            }
            break;
        default:
            display("< " + line);
            break;
        }
    }
}

void TFtpClient::onControlClosed(int error)
{
    const bool awaitingReply = !m_requestDoneFlag && !m_closingOnPurpose;
    if (m_controlConnected) {
        m_controlConnected = false;
        if (m_state != fcsAborting)
            setState(fcsNotConnected);
        if (OnSessionClosed)
            OnSessionClosed(*this, error);
    }
    // The connection went away while the running request still waited for
    // its answer: that request failed, whatever the step before it returned.
    if (awaitingReply && m_requestResult == 0) {
        if (m_state == fcsAborting) {
            m_requestResult = kCodeUploadFailure; // 426
            if (m_errorMessage.empty())
                m_errorMessage = kMsgOperationAborted;
        } else {
            m_requestResult = error != 0 ? error : kCodeControlClosed;
            if (m_errorMessage.empty())
                m_errorMessage = kMsgControlClosed;
        }
    }
    if (m_state != fcsAborting) {
        // With no request running nothing would complete it: ready at once.
        setState(m_requestDoneFlag ? fcsReady : fcsInternalReady);
    }
    triggerRequestDone(m_requestResult);
}

// ---- Abort and Quit ---------------------------------------------------------

void TFtpClient::Abort()
{
    const TFtpClientState was = m_state;
    setState(fcsAborting);
    closeLocalFile();
    if (was == fcsResolving)
        m_controlSocket.CancelDnsLookup();
    if (m_controlSocket.State() != net::wsClosed)
        m_controlSocket.Close();
    if (m_dataSocket.State() != net::wsClosed)
        m_dataSocket.Close();
    closeLocalFile();
    m_controlConnected = false;
    setState(fcsReady);
}

void TFtpClient::Quit()
{
    checkReady();
    checkConnected();
    closeLocalFile();
    m_previousStep = ftsQuit;
    execAsync(rkQuit, "QUIT", {kCodeGoodbye}, &TFtpClient::quitDone);
}

void TFtpClient::quitDone()
{
    m_closingOnPurpose = true;
    m_controlSocket.Close();
}

// ---- multi-step requests ----------------------------------------------------

void TFtpClient::highLevelAsync(TFtpRequestKind kind, TFtpStepSet steps)
{
    if (m_controlConnected && steps.contains(ftsOpen))
        HandleError(kErrAlreadyConnected);
    checkReady();
    m_savedResponse = m_lastResponse;
    m_savedCode = -1;
    m_requestType = kind;
    m_requestResult = 0;
    m_steps = steps;
    m_previousStep = ftsNone;
    m_highLevelResult = 0;
    m_highLevelFlag = true;
    m_lastResponse.clear();
    m_errorMessage.clear();
    try {
        sequencer();
    } catch (...) {
        // The first step could not start: nothing was started.
        m_steps.clear();
        m_nextRequest = nullptr;
        m_highLevelFlag = false;
        m_requestDoneFlag = true;
        if (m_state == fcsInternalReady)
            setState(fcsReady);
        throw;
    }
}

void TFtpClient::sequencer()
{
    if (m_state == fcsAborting) {
        m_steps.clear();
        m_highLevelResult = kCodeUploadFailure; // 426
        m_errorMessage = kMsgOperationAborted;
    }
    m_nextRequest = &TFtpClient::sequencer;
    interpretAnswer();
    for (TFtpStep step : kStepOrder) {
        if (!m_steps.contains(step))
            continue;
        m_steps.remove(step);
        const TFtpStep previous = m_previousStep;
        m_previousStep = step;
        if (step == ftsPass && previous == ftsUser && m_statusCode != kCodeNeedPassword)
            continue;
        if (step == ftsCwd && HostDirName.empty())
            continue;
        if (step == ftsQuit) {
            m_savedResponse = m_lastResponse;
            m_savedCode = m_statusCode;
        }
        if (step == ftsRetrieve && !(previous == ftsRest && ResumeAt >= 0 && m_statusCode == kCodeRestOk))
            ResumeAt = 0;
        startStep(step);
        return;
    }
    m_steps.clear();
    m_nextRequest = nullptr;
    m_requestDoneFlag = false;
    triggerRequestDone(m_highLevelResult);
}

void TFtpClient::startStep(TFtpStep step)
{
    switch (step) {
    case ftsOpen: return Open();
    case ftsUser: return User();
    case ftsPass: return Pass();
    case ftsCwd: return Cwd();
    case ftsCDup: return CDup();
    case ftsType: return TypeSet();
    case ftsPort: return portStep();
    case ftsRest: return restStep();
    case ftsRetrieve: return retrieveStep();
    case ftsStore: return storeStep();
    case ftsAppend: return appendStep();
    case ftsList: return listStep();
    case ftsNameList: return nameListStep();
    case ftsSyst: return Syst();
    case ftsMkd: return Mkd();
    case ftsRmd: return Rmd();
    case ftsRenameFrom: return RenFrom();
    case ftsRenameTo: return RenTo();
    case ftsSize: return Size();
    case ftsDele: return Dele();
    case ftsPwd: return Pwd();
    case ftsQuote: return Quote();
    case ftsQuit: return Quit();
    default: return;
    }
}

} // namespace vesk2::ftpclient
