#include "net/socks_wsocket.h"

#include "net/resolver.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <algorithm>
#include <cctype>
#include <cstring>

namespace vesk2::net {

namespace {

std::string trimmed(const std::string& s)
{
    std::size_t b = 0, e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\t'))
        ++b;
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t'))
        --e;
    return s.substr(b, e - b);
}

std::string lowerCase(std::string s)
{
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

void appendPort(std::string& out, std::uint16_t port)
{
    out += static_cast<char>(port >> 8);
    out += static_cast<char>(port & 0xff);
}

// What a non-zero reply code of the proxy means.
struct ReplyMeaning {
    unsigned char code;
    int error;
    const char* text;
};

constexpr ReplyMeaning kLevel5Replies[] = {
    {1, socksGeneralFailure, "general SOCKS server failure"},
    {2, socksConnectionNotAllowed, "connection not allowed by ruleset"},
    {3, socksNetworkUnreachable, "network unreachable"},
    {4, socksHostUnreachable, "host unreachable"},
    {5, socksConnectionRefused, "connection refused"},
    {6, socksTtlExpired, "time to live expired"},
    {7, socksUnknownCommand, "command not supported"},
    {8, socksUnknownAddressType, "address type not supported"},
};

constexpr ReplyMeaning kLevel4Replies[] = {
    {91, socksRejectedOrFailed, "request rejected or failed"},
    {92, socksConnectionRefused, "connection refused"},
    {93, socksAuthenticationFailed, "authentification failed"},
};

constexpr unsigned char kLevel4Granted = 90;
constexpr unsigned char kMethodNone = 0;
constexpr unsigned char kMethodUserPassword = 2;
constexpr std::size_t kLevel4ReplyLength = 8;

constexpr const char* kUsercodeTooLong = "Socks user code too long (255 bytes at most)";
constexpr const char* kPasswordTooLong = "Socks password too long (255 bytes at most)";
constexpr const char* kDestinationTooLong = "Socks destination name too long (255 bytes at most)";

} // namespace

// ---- properties -------------------------------------------------------------

void TCustomSocksWSocket::SetSocksServer(const std::string& value)
{
    if (State() != wsClosed)
        return RaiseException("Can't change socks server if not closed");
    m_socksServer = trimmed(value);
    m_socksServerAssigned = !m_socksServer.empty();
}

void TCustomSocksWSocket::SetSocksPort(const std::string& value)
{
    if (State() != wsClosed)
        return RaiseException("Can't change socks port if not closed");
    m_socksPort = trimmed(value);
}

void TCustomSocksWSocket::SetSocksLevel(const std::string& value)
{
    if (State() != wsClosed)
        return RaiseException("Can't change socks level if not closed");
    if (value != "4" && value != "4A" && value != "4a" && value != "5")
        return RaiseException("Invalid socks level. Must be 4, 4A or 5.");
    m_socksLevel = value == "4a" ? "4A" : value;
}

void TCustomSocksWSocket::AssignDefaultValue()
{
    m_socksServer.clear();
    m_socksServerAssigned = false;
    m_socksPort.clear();
    m_socksLevel = "5";
    m_socksPhase = phaseNone;
    m_requestedMethod = kMethodNone;
    m_authFailing = false;
    m_replyCount = 0;
    m_leftoverPos = 0;
    m_leftoverCount = 0;
    TCustomWSocket::AssignDefaultValue();
}

// ---- connect and listen -----------------------------------------------------

void TCustomSocksWSocket::Connect()
{
    // Without a proxy, or when the socket cannot connect at all, the plain
    // Connect does the work and reports the failure with its own text.
    if (HSocket() >= 0 && State() != wsClosed)
        return TCustomWSocket::Connect();
    m_boundAddr.clear();
    m_boundPort.clear();
    if (!m_socksServerAssigned || !PortAssigned() || !AddrAssigned())
        return TCustomWSocket::Connect();
    if (lowerCase(Proto()) != "tcp")
        return RaiseException("tcp is the only protocol supported thru socks server");

    // Every field must fit its request; nothing is sent otherwise.
    const bool withPassword = !levelFour() && SocksAuthentication == socksAuthenticateUsercode;
    if ((levelFour() || withPassword) && SocksUsercode.size() > kSocksMaxFieldLength)
        return RaiseException(kUsercodeTooLong);
    if (withPassword && SocksPassword.size() > kSocksMaxFieldLength)
        return RaiseException(kPasswordTooLong);
    if (m_socksLevel != "4" && Addr().size() > kSocksMaxFieldLength)
        return RaiseException(kDestinationTooLong);

    std::uint32_t proxyAddr = 0;
    std::uint16_t proxyPort = 0;
    try {
        proxyAddr = WSocketResolveHost(m_socksServer);
        proxyPort = WSocketResolvePort(m_socksPort, Proto());
        m_destPort = WSocketResolvePort(Port(), Proto());
    } catch (const ESocketException& e) {
        return RaiseException(std::string("connect: ") + e.what());
    }
    SetResolvedRemote(proxyAddr, proxyPort);
    m_replyCount = 0;
    m_leftoverCount = 0;
    m_authFailing = false;
    m_socksPhase = phaseConnecting;
    try {
        TCustomWSocket::Connect();
    } catch (...) {
        m_socksPhase = phaseNone;
        throw;
    }
}

void TCustomSocksWSocket::Listen()
{
    if (m_socksServerAssigned)
        return RaiseException("Listening is not supported thru socks server");
    TCustomWSocket::Listen();
}

// ---- receiving --------------------------------------------------------------

int TCustomSocksWSocket::RcvdCount() const
{
    if (m_leftoverCount > 0)
        return static_cast<int>(m_leftoverCount);
    return TCustomWSocket::RcvdCount();
}

int TCustomSocksWSocket::Receive(void* buffer, int size)
{
    if (m_leftoverCount == 0 || size <= 0)
        return TCustomWSocket::Receive(buffer, size);
    const std::size_t n = std::min(m_leftoverCount, static_cast<std::size_t>(size));
    std::memcpy(buffer, m_reply.data() + m_leftoverPos, n);
    m_leftoverPos += n;
    m_leftoverCount -= n;
    return static_cast<int>(n);
}

// ---- the handshake ----------------------------------------------------------

void TCustomSocksWSocket::sendBytes(const std::string& bytes)
{
    // The messages are small and go out on a fresh connection: a failure shows
    // up as the proxy's silence or close, not here.
    if (HSocket() >= 0)
        RealSend(bytes.data(), static_cast<int>(bytes.size()));
}

void TCustomSocksWSocket::raiseAuthState(TSocksAuthState state)
{
    if (OnSocksAuthState)
        OnSocksAuthState(*this, state);
}

void TCustomSocksWSocket::TriggerSessionConnected(int error)
{
    if (m_socksPhase != phaseConnecting)
        return TCustomWSocket::TriggerSessionConnected(error);
    if (OnSocksConnected)
        OnSocksConnected(*this, error);
    if (error != 0) {
        m_socksPhase = phaseNone;
        return TriggerSessionConnected(error);
    }
    if (State() != wsConnected)
        return; // the handler closed the socket
    if (levelFour())
        return sendConnectRequest();
    m_requestedMethod = SocksAuthentication == socksAuthenticateUsercode ? kMethodUserPassword : kMethodNone;
    sendBytes(std::string{5, 1, static_cast<char>(m_requestedMethod)});
}

bool TCustomSocksWSocket::TriggerDataAvailable(int error)
{
    if (m_socksPhase == phaseNone)
        return TCustomWSocket::TriggerDataAvailable(error);
    if (error != 0) {
        handshakeFailed(error, "data receive error");
        return true;
    }
    const int n = TCustomWSocket::Receive(m_reply.data() + m_replyCount, static_cast<int>(kReplyCapacity - m_replyCount));
    if (n <= 0)
        return true;
    m_replyCount += static_cast<std::size_t>(n);
    switch (m_socksPhase) {
    case phaseConnecting:
        handleGreetingReply();
        break;
    case phaseAuthenticating:
        handleAuthReply();
        break;
    case phaseRequesting:
        if (levelFour())
            handleLevel4Reply();
        else
            handleLevel5Reply();
        break;
    default:
        handshakeFailed(socksInternalError, "internal error");
        break;
    }
    return true;
}

void TCustomSocksWSocket::TriggerDataSent(int error)
{
    // The handshake's own bytes are nothing the owner sent.
    if (m_socksPhase == phaseNone)
        TCustomWSocket::TriggerDataSent(error);
}

void TCustomSocksWSocket::TriggerSessionClosed(int error)
{
    if (m_socksPhase == phaseAuthenticating || m_authFailing) {
        m_authFailing = false;
        raiseAuthState(sasFailed);
    }
    m_socksPhase = phaseNone;
    TCustomWSocket::TriggerSessionClosed(error);
}

void TCustomSocksWSocket::handleGreetingReply()
{
    if (levelFour())
        return handshakeFailed(socksProtocolError, "TWSocket logic error");
    if (m_replyCount < 2)
        return;
    const unsigned char version = m_reply[0];
    const unsigned char method = m_reply[1];
    m_replyCount = 0;
    if (version != 5)
        return handshakeFailed(socksVersionError, "socks version error");
    if (method == kMethodNone) {
        if (m_requestedMethod == kMethodUserPassword)
            raiseAuthState(sasNotRequired);
        if (State() == wsConnected)
            sendConnectRequest();
    } else if (method == kMethodUserPassword) {
        startAuthentication();
    } else {
        handshakeFailed(socksAuthMethodError, "authentification method not acceptable");
    }
}

void TCustomSocksWSocket::startAuthentication()
{
    m_socksPhase = phaseAuthenticating;
    raiseAuthState(sasStarted);
    if (State() != wsConnected)
        return;
    std::string request{1};
    request += static_cast<char>(SocksUsercode.size());
    request += SocksUsercode;
    request += static_cast<char>(SocksPassword.size());
    request += SocksPassword;
    sendBytes(request);
}

void TCustomSocksWSocket::handleAuthReply()
{
    if (m_reply[0] != 1)
        return handshakeFailed(socksVersionError, "socks version error");
    if (m_replyCount > 2)
        return handshakeFailed(socksProtocolError, "too much data availaible");
    if (m_replyCount < 2)
        return;
    if (m_reply[1] != 0)
        return handshakeFailed(socksAuthenticationFailed, "socks authentication failed");
    m_replyCount = 0;
    m_socksPhase = phaseRequesting; // authentication is over: a close now is no failed login
    raiseAuthState(sasSucceeded);
    if (State() == wsConnected)
        sendConnectRequest();
}

void TCustomSocksWSocket::sendConnectRequest()
{
    m_socksPhase = phaseRequesting;
    m_replyCount = 0;
    std::string request;
    if (levelFour()) {
        std::uint32_t address = htonl(1); // 0.0.0.1: the name follows (level 4A)
        if (m_socksLevel == "4") {
            try {
                address = WSocketResolveHost(Addr());
            } catch (const ESocketException& e) {
                return handshakeFailed(socksHostResolutionFailed, std::string("ESocketException ") + e.what());
            }
        }
        request = {4, 1};
        appendPort(request, m_destPort);
        request.append(reinterpret_cast<const char*>(&address), 4);
        request += SocksUsercode;
        request += '\0';
        if (m_socksLevel == "4A") {
            request += Addr();
            request += '\0';
        }
    } else {
        // The destination always goes as a name, also a dotted one.
        request = {5, 1, 0, 3, static_cast<char>(Addr().size())};
        request += Addr();
        appendPort(request, m_destPort);
    }
    sendBytes(request);
}

void TCustomSocksWSocket::handleLevel4Reply()
{
    if (m_replyCount < kLevel4ReplyLength)
        return;
    if (m_reply[0] != 0)
        return handshakeFailed(socksVersionError, "socks version error");
    const unsigned char code = m_reply[1];
    if (code == kLevel4Granted)
        return handshakeDone(kLevel4ReplyLength);
    for (const auto& r : kLevel4Replies)
        if (r.code == code)
            return handshakeFailed(r.error, r.text);
    handshakeFailed(socksUnassignedError, "unassigned error #" + std::to_string(code));
}

void TCustomSocksWSocket::handleLevel5Reply()
{
    if (m_reply[0] != 5)
        return handshakeFailed(socksVersionError, "socks version error");
    if (m_replyCount < 2)
        return;
    const unsigned char code = m_reply[1];
    if (code != 0) {
        for (const auto& r : kLevel5Replies)
            if (r.code == code)
                return handshakeFailed(r.error, r.text);
        return handshakeFailed(socksUnassignedError, "unassigned error #" + std::to_string(code));
    }
    if (m_replyCount < 5)
        return;
    std::size_t length = 0;
    switch (m_reply[3]) {
    case 1: // IPv4
        length = 10;
        break;
    case 3: // a name with its length byte
        length = 7 + std::size_t{m_reply[4]};
        break;
    case 4: // IPv6: a proxy may reach a named destination that way
        length = 22;
        break;
    default:
        return handshakeFailed(socksUnknownAddressType, "address type not supported");
    }
    if (m_replyCount < length)
        return;
    if (m_reply[3] == 1) {
        std::uint32_t address = 0;
        std::memcpy(&address, m_reply.data() + 4, 4);
        m_boundAddr = dottedAddress(address);
    } else if (m_reply[3] == 3) {
        m_boundAddr.assign(reinterpret_cast<const char*>(m_reply.data() + 5), m_reply[4]);
    } else {
        char text[INET6_ADDRSTRLEN] = {};
        ::inet_ntop(AF_INET6, m_reply.data() + 4, text, sizeof text);
        m_boundAddr = text;
    }
    m_boundPort = std::to_string((m_reply[length - 2] << 8) | m_reply[length - 1]);
    handshakeDone(length);
}

void TCustomSocksWSocket::handshakeDone(std::size_t replyLength)
{
    m_leftoverPos = replyLength;
    m_leftoverCount = m_replyCount - replyLength;
    m_replyCount = 0;
    m_socksPhase = phaseNone;
    TriggerSessionConnected(0);
    // Bytes that came with the reply belong to the owner: offer them the way
    // the receive loop offers data, until they are read or the owner stops reading.
    while (State() == wsConnected) {
        const std::size_t before = m_leftoverCount;
        if (!TriggerDataAvailable(0)) {
            m_leftoverCount = 0; // no handler: discarded, as the receive loop does
            return;
        }
        if (m_leftoverCount == 0 || m_leftoverCount == before)
            return;
    }
}

void TCustomSocksWSocket::handshakeFailed(int error, const std::string& message)
{
    m_authFailing = m_socksPhase == phaseAuthenticating;
    m_socksPhase = phaseNone;
    m_replyCount = 0;
    if (OnSocksError)
        OnSocksError(*this, error, message);
    TriggerSessionConnected(error);
    if (State() != wsClosed)
        InternalClose(true, error);
    m_authFailing = false;
}

} // namespace vesk2::net
