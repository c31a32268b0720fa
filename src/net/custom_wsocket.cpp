#include "net/custom_wsocket.h"

#include "net/resolver.h"
#include "net/winsock_errors.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <sys/uio.h>

namespace vesk2::net {

namespace {

std::atomic<int> g_socketCount{0};

// Done once per process: a peer that closes while we write must not kill us.
void initialiseNetwork()
{
    static const bool done = [] {
        std::signal(SIGPIPE, SIG_IGN);
        return true;
    }();
    (void)done;
}

std::string trimmed(const std::string& s)
{
    std::size_t b = 0, e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\t'))
        ++b;
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t'))
        --e;
    return s.substr(b, e - b);
}

std::string format(const char* fmt, int number)
{
    char buf[256];
    std::snprintf(buf, sizeof buf, fmt, number);
    return buf;
}

int lastSystemError() { return winsockErrorFromErrno(errno); }

constexpr int kMaxIovecs = 64;

} // namespace

TCustomWSocket::TCustomWSocket(EventLoop& loop) : EventTarget(loop)
{
    initialiseNetwork();
    ++g_socketCount;
}

TCustomWSocket::~TCustomWSocket()
{
    m_destroying = true;
    try {
        if (m_dnsLookupHandle)
            CancelDnsLookup();
    } catch (...) {
    }
    if (m_hSocket >= 0) {
        Loop().unwatch(m_hSocket);
        ::close(m_hSocket);
        m_hSocket = -1;
    }
    --g_socketCount;
}

int TCustomWSocket::SocketCount() { return g_socketCount.load(); }

// ---- properties -------------------------------------------------------------

void TCustomWSocket::SetAddr(const std::string& value)
{
    const std::string v = trimmed(value);
    if (m_addrAssigned && v == m_addr)
        return;
    if (m_state != wsClosed) {
        RaiseException("Cannot change Addr if not closed");
        return;
    }
    m_addr = v;
    m_addrAssigned = !v.empty();
    m_addrResolved = false;
}

void TCustomWSocket::SetPort(const std::string& value)
{
    const std::string v = trimmed(value);
    if (m_portAssigned && v == m_port)
        return;
    if (m_state != wsClosed) {
        RaiseException("Cannot change Port if not closed");
        return;
    }
    m_port = v;
    m_portAssigned = !v.empty();
    m_portResolved = false;
}

void TCustomWSocket::SetProto(const std::string& value)
{
    const std::string v = trimmed(value);
    if (m_protoAssigned && v == m_proto)
        return;
    if (m_state != wsClosed) {
        RaiseException("Cannot change Proto if not closed");
        return;
    }
    m_proto = v;
    m_protoAssigned = !v.empty();
    m_protoResolved = false;
}

void TCustomWSocket::SetLocalPort(const std::string& value)
{
    if (m_state != wsClosed) {
        RaiseException("Cannot change LocalPort if not closed");
        return;
    }
    m_localPort = trimmed(value);
    m_localPortResolved = false;
}

void TCustomWSocket::SetLocalAddr(const std::string& value)
{
    if (m_state != wsClosed) {
        RaiseException("Cannot change LocalAddr if not closed");
        return;
    }
    const std::string v = trimmed(value);
    if (v.empty()) {
        m_localAddr = "0.0.0.0";
        return;
    }
    if (!WSocketIsDottedIP(v)) {
        RaiseException("SetLocalAddr(): Invalid IP address");
        return;
    }
    m_localAddr = dottedAddress(WSocketResolveHost(v));
}

void TCustomWSocket::SetSendFlags(int value)
{
    if (value != wsSendNormal && value != wsSendUrgent) {
        RaiseException("Invalid SendFlags");
        return;
    }
    m_sendFlags = static_cast<TSocketSendFlags>(value);
}

int TCustomWSocket::RcvdCount() const
{
    if (m_hSocket < 0)
        return 0;
    int waiting = 0;
    if (::ioctl(m_hSocket, FIONREAD, &waiting) != 0)
        return 0;
    return waiting;
}

void TCustomWSocket::SetResolvedRemote(std::uint32_t addr, std::uint16_t port)
{
    m_sinAddr = addr;
    m_sinPort = port;
    m_addrResolved = true;
    m_portResolved = true;
}

std::size_t TCustomWSocket::BufferedBytes() const
{
    std::size_t total = 0;
    for (const auto& b : m_sendBufferList)
        total += b.Unsent();
    return total;
}

// ---- errors -----------------------------------------------------------------

void TCustomWSocket::RaiseException(const std::string& text)
{
    if (OnError) {
        OnError(*this);
        return;
    }
    throw ESocketException(text);
}

void TCustomWSocket::SocketError(const std::string& function) { SocketErrorWith(lastSystemError(), function); }

void TCustomWSocket::SocketErrorWith(int error, const std::string& function)
{
    if (error == WSAECONNRESET || error == WSAENOTCONN) {
        if (m_hSocket >= 0) {
            Loop().unwatch(m_hSocket);
            ::close(m_hSocket);
            m_hSocket = -1;
        }
        ChangeState(wsClosed);
    }
    m_lastError = error;
    RaiseException("Error " + std::to_string(error) + " in function " + function + "\r\n" + WSocketErrorDesc(error));
}

void TCustomWSocket::HandleBackGroundException(const std::exception& e)
{
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

void TCustomWSocket::ChangeState(TSocketState newState)
{
    const TSocketState old = m_state;
    m_state = newState;
    if (OnChangeState)
        OnChangeState(*this, old, newState);
}

void TCustomWSocket::AssignDefaultValue()
{
    m_addrAssigned = false;
    m_portAssigned = false;
    m_proto = "tcp";
    m_protoAssigned = true;
    m_addrResolved = m_portResolved = m_localPortResolved = m_protoResolved = false;
    m_localAddr = "0.0.0.0";
    m_localPort = "0";
    m_sinAddr = 0;
    m_sinPort = 0;
    m_localSinPort = 0;
    m_protoNumber = 6;
    m_datagram = false;
    m_lingerOnOff = wsLingerOn;
    m_lingerTimeout = 0;
    m_sendFlags = wsSendNormal;
    m_state = wsClosed;
    m_lastError = 0;
    m_readCount = 0;
    m_dnsResult.clear();
    m_allSent = true;
    m_closeInvoked = false;
    m_paused = false;
    m_watchedInterests = 0;
}

// ---- registration -----------------------------------------------------------

void TCustomWSocket::updateWatch()
{
    if (m_hSocket < 0)
        return;
    unsigned interests = 0;
    if (!m_paused) {
        interests = riRead;
        if (m_state == wsConnecting || !m_allSent)
            interests |= riWrite;
    }
    if (interests != m_watchedInterests || interests == 0) {
        if (Loop().watch(m_hSocket, interests, *this))
            m_watchedInterests = interests;
    }
}

void TCustomWSocket::applyLinger()
{
    if (m_lingerOnOff == wsLingerNoSet)
        return;
    if (m_hSocket < 0) {
        RaiseException("Cannot set linger option at this time");
        return;
    }
    // A zero timeout would make every close abortive and could throw away the
    // last reply still on its way; the system's graceful close is kept then.
    linger li{};
    li.l_onoff = (m_lingerOnOff == wsLingerOn && m_lingerTimeout > 0) ? 1 : 0;
    li.l_linger = m_lingerTimeout;
    if (::setsockopt(m_hSocket, SOL_SOCKET, SO_LINGER, &li, sizeof li) != 0)
        SocketError("setsockopt(SO_LINGER)");
}

// ---- connect, listen, accept, dup -------------------------------------------

void TCustomWSocket::resolveForUse(const char* prefix)
{
    try {
        if (!m_protoResolved) {
            m_protoNumber = WSocketResolveProto(m_proto);
            m_datagram = m_protoNumber == IPPROTO_UDP;
            m_protoResolved = true;
        }
        if (!m_portResolved) {
            m_sinPort = WSocketResolvePort(m_port, m_proto);
            m_portResolved = true;
        }
        if (!m_localPortResolved) {
            m_localSinPort = WSocketResolvePort(m_localPort.empty() ? "0" : m_localPort, m_proto);
            m_localPortResolved = true;
        }
        if (!m_addrResolved) {
            m_sinAddr = WSocketResolveHost(m_addr);
            m_addrResolved = true;
        }
    } catch (const ESocketException& e) {
        RaiseException(std::string(prefix) + e.what());
    }
}

void TCustomWSocket::bindLocal()
{
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(m_localSinPort);
    sa.sin_addr.s_addr = WSocketResolveHost(m_localAddr);
    if (::bind(m_hSocket, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
        m_lastError = lastSystemError();
        RaiseException(format("winsock.bind failed, error #%d", m_lastError));
        return;
    }
    socklen_t len = sizeof sa;
    if (::getsockname(m_hSocket, reinterpret_cast<sockaddr*>(&sa), &len) != 0) {
        m_lastError = lastSystemError();
        RaiseException(format("winsock.getsockname failed, error #%d", m_lastError));
        return;
    }
    m_localPort = std::to_string(ntohs(sa.sin_port));
    m_localSinPort = ntohs(sa.sin_port);
}

void TCustomWSocket::Connect()
{
    if (m_hSocket >= 0 && m_state != wsClosed)
        return RaiseException("Connect: Socket already in use");
    if (!m_portAssigned)
        return RaiseException("Connect: No Port Specified");
    if (!m_addrAssigned)
        return RaiseException("Connect: No IP Address Specified");
    if (!m_protoAssigned)
        return RaiseException("Connect: No Protocol Specified");
    resolveForUse("connect: ");

    m_sendBufferList.clear();
    m_allSent = true;
    const int type = m_datagram ? SOCK_DGRAM : SOCK_STREAM;
    m_hSocket = ::socket(AF_INET, type | SOCK_NONBLOCK | SOCK_CLOEXEC, m_datagram ? IPPROTO_UDP : IPPROTO_TCP);
    if (m_hSocket < 0)
        return SocketError("Connect (socket)");
    ChangeState(wsOpened);

    if (!m_datagram) {
        if (m_localSinPort != 0 || m_localAddr != "0.0.0.0")
            bindLocal();
        applyLinger();
        int on = 1;
        if (::setsockopt(m_hSocket, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on) != 0)
            return SocketError("setsockopt(SO_KEEPALIVE)");
        if (::setsockopt(m_hSocket, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0)
            return SocketError("setsockopt(SO_REUSEADDR)");
    } else {
        bindLocal();
        if (m_sinAddr == INADDR_BROADCAST) {
            int on = 1;
            if (::setsockopt(m_hSocket, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0)
                return SocketError("setsockopt(SO_BROADCAST)");
        }
    }

    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(m_sinPort);
    sa.sin_addr.s_addr = m_sinAddr;
    if (m_datagram) {
        ::connect(m_hSocket, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
        updateWatch();
        ChangeState(wsConnected);
        TriggerSessionConnected(0);
        return;
    }
    if (::connect(m_hSocket, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 && errno != EINPROGRESS) {
        m_lastError = lastSystemError();
        return SocketErrorWith(m_lastError, "Connect");
    }
    ChangeState(wsConnecting);
    updateWatch();
    if (m_watchedInterests == 0)
        SocketError("WSAAsyncSelect");
}

void TCustomWSocket::Listen()
{
    if (!m_portAssigned)
        return SocketErrorWith(WSAEINVAL, "listen: port not assigned");
    if (!m_protoAssigned)
        return SocketErrorWith(WSAEINVAL, "listen: protocol not assigned");
    if (!m_addrAssigned)
        return SocketErrorWith(WSAEINVAL, "listen: address not assigned");
    resolveForUse("listen: ");

    m_sendBufferList.clear();
    m_allSent = true;
    const int type = m_datagram ? SOCK_DGRAM : SOCK_STREAM;
    m_hSocket = ::socket(AF_INET, type | SOCK_NONBLOCK | SOCK_CLOEXEC, m_datagram ? IPPROTO_UDP : IPPROTO_TCP);
    if (m_hSocket < 0)
        return SocketError("socket");
    // Restarting the server must not wait for old connections in TIME_WAIT.
    int on = 1;
    ::setsockopt(m_hSocket, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(m_sinPort);
    sa.sin_addr.s_addr = m_sinAddr;
    if (::bind(m_hSocket, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
        const int err = lastSystemError();
        ::close(m_hSocket);
        m_hSocket = -1;
        return SocketErrorWith(err, "Bind");
    }
    ChangeState(wsBound);
    if (!m_datagram) {
        if (::listen(m_hSocket, 5) != 0)
            return SocketError("Listen");
        ChangeState(wsListening);
    } else {
        ChangeState(wsListening);
        ChangeState(wsConnected);
        TriggerSessionConnected(0);
    }
    updateWatch();
    if (m_watchedInterests == 0)
        SocketError("WSAASyncSelect");
}

int TCustomWSocket::Accept()
{
    if (m_state != wsListening) {
        SocketErrorWith(WSAEINVAL, "not a listening socket");
        return -1;
    }
    const int handle = ::accept4(m_hSocket, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (handle < 0) {
        SocketError("Accept");
        return -1;
    }
    return handle;
}

void TCustomWSocket::Dup(int handle)
{
    if (handle < 0) {
        SocketErrorWith(WSAEINVAL, "Dup");
        return;
    }
    if (m_hSocket >= 0 && m_state != wsClosed) {
        Loop().unwatch(m_hSocket);
        if (::close(m_hSocket) != 0) {
            m_hSocket = -1;
            SocketError("Dup (closesocket)");
            return;
        }
        m_hSocket = -1;
        ChangeState(wsClosed);
    }
    m_hSocket = handle;
    ::fcntl(handle, F_SETFL, ::fcntl(handle, F_GETFL) | O_NONBLOCK);
    m_watchedInterests = 0;
    applyLinger();
    m_state = wsConnected; // registration sees the final state
    updateWatch();
    if (m_watchedInterests == 0)
        return SocketError("WSAAsyncSelect");
    m_state = wsClosed;
    ChangeState(wsConnected);
}

// ---- sending ----------------------------------------------------------------

int TCustomWSocket::Send(const void* data, int len)
{
    if (m_state != wsConnected) {
        SocketErrorWith(WSAENOTCONN, "Send");
        return -1;
    }
    if (len <= 0)
        return 0;
    m_allSent = false;
    const auto* bytes = static_cast<const unsigned char*>(data);
    std::size_t left = static_cast<std::size_t>(len);
    if (nothingQueued() && m_hSocket >= 0) {
        // Nothing waits before these bytes: hand them to the system straight
        // from the caller's memory and queue only what it did not take. A
        // failure is left to TryToSend, which meets it again and handles it.
        const int flags = MSG_NOSIGNAL | (m_sendFlags == wsSendUrgent ? MSG_OOB : 0);
        const ssize_t sent = ::send(m_hSocket, bytes, left, flags);
        if (sent > 0) {
            bytes += sent;
            left -= static_cast<std::size_t>(sent);
            if (OnSendData)
                OnSendData(*this, static_cast<int>(sent));
            if (m_hSocket < 0)
                return len;
        }
    }
    if (left == 0) {
        m_allSent = true;
    } else {
        queueForSending(bytes, left);
        TryToSend();
    }
    if (m_allSent && !m_dataSentPosted && m_hSocket >= 0) {
        // OnDataSent always comes from the loop, after Send has returned.
        m_dataSentPosted = true;
        postSelf(AsyncSelectEvent, m_hSocket, FD_WRITE);
    }
    updateWatch();
    return len;
}

bool TCustomWSocket::nothingQueued() const
{
    for (const TBuffer& block : m_sendBufferList)
        if (block.Unsent() != 0)
            return false;
    return true;
}

void TCustomWSocket::queueForSending(const unsigned char* bytes, std::size_t left)
{
    if (m_sendBufferList.empty())
        m_sendBufferList.emplace_back(m_bufSize);
    for (;;) {
        const std::size_t took = m_sendBufferList.back().Write(bytes, left);
        bytes += took;
        left -= took;
        if (left == 0)
            break;
        m_sendBufferList.emplace_back(m_bufSize);
    }
}

int TCustomWSocket::SendStr(const std::string& text) { return Send(text.data(), static_cast<int>(text.size())); }

int TCustomWSocket::RealSend(const void* data, int len)
{
    const int flags = MSG_NOSIGNAL | (m_sendFlags == wsSendUrgent ? MSG_OOB : 0);
    const ssize_t n = ::send(m_hSocket, data, static_cast<std::size_t>(len), flags);
    if (n < 0)
        m_lastError = lastSystemError();
    return static_cast<int>(n);
}

void TCustomWSocket::TryToSend()
{
    if (m_hSocket < 0 || m_sendBufferList.empty())
        return;
    for (;;) {
        // Drop drained blocks in front; keep the last one for reuse.
        while (m_sendBufferList.size() > 1 && m_sendBufferList.front().Unsent() == 0)
            m_sendBufferList.pop_front();
        if (m_sendBufferList.front().Unsent() == 0) {
            m_allSent = true;
            return;
        }
        // Hand several blocks to the system in one call.
        iovec iov[kMaxIovecs];
        int count = 0;
        for (auto it = m_sendBufferList.begin(); it != m_sendBufferList.end() && count < kMaxIovecs; ++it) {
            std::size_t len = 0;
            const unsigned char* p = it->Peek(len);
            if (len == 0)
                continue;
            iov[count].iov_base = const_cast<unsigned char*>(p);
            iov[count].iov_len = len;
            ++count;
        }
        msghdr msg{};
        msg.msg_iov = iov;
        msg.msg_iovlen = static_cast<std::size_t>(count);
        const int flags = MSG_NOSIGNAL | (m_sendFlags == wsSendUrgent ? MSG_OOB : 0);
        const ssize_t sent = ::sendmsg(m_hSocket, &msg, flags);
        if (sent > 0) {
            if (OnSendData)
                OnSendData(*this, static_cast<int>(sent));
            std::size_t left = static_cast<std::size_t>(sent);
            for (auto it = m_sendBufferList.begin(); left > 0 && it != m_sendBufferList.end(); ++it) {
                const std::size_t take = std::min(left, it->Unsent());
                it->Remove(take);
                left -= take;
            }
            continue;
        }
        if (sent == 0)
            return;
        const int err = lastSystemError();
        if (err == WSAEWOULDBLOCK)
            return;
        if (err == WSAEINVAL || err == WSAENOTSOCK || err == WSAECONNABORTED || err == WSAECONNRESET ||
            err == WSAENOTCONN) {
            m_lastError = err;
            m_closeInvoked = true;
            InternalClose(true, err);
            TriggerSessionClosed(err);
            return;
        }
        SocketErrorWith(err, "TryToSend failed");
        return;
    }
}

void TCustomWSocket::Flush()
{
    while (m_hSocket >= 0 && !m_allSent) {
        TryToSend();
        if (m_allSent || m_hSocket < 0)
            break;
        pollfd p{m_hSocket, POLLOUT, 0};
        ::poll(&p, 1, 100);
        MessagePump();
    }
}

// ---- receiving --------------------------------------------------------------

int TCustomWSocket::Receive(void* buffer, int size)
{
    if (m_hSocket < 0) {
        m_lastError = WSAENOTCONN;
        return -1;
    }
    const ssize_t n = ::recv(m_hSocket, buffer, static_cast<std::size_t>(size < 0 ? 0 : size), 0);
    if (n < 0) {
        m_lastError = lastSystemError();
        return -1;
    }
    m_readCount += n;
    m_lastReceiveShort = n < size;
    return static_cast<int>(n);
}

std::string TCustomWSocket::ReceiveStr()
{
    const int waiting = RcvdCount();
    if (waiting <= 0)
        return {};
    std::string text(static_cast<std::size_t>(waiting), '\0');
    const int n = Receive(text.data(), waiting);
    text.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    return text;
}

void TCustomWSocket::receiveLoop(int error)
{
    int stalls = 0;
    for (;;) {
        m_lastError = 0;
        const std::int64_t before = m_readCount;
        if (!TriggerDataAvailable(error)) {
            char discard[1024];
            if (Receive(discard, sizeof discard) < 0 && m_lastError == WSAEWOULDBLOCK) {
                m_lastError = 0;
                return;
            }
        }
        if ((ComponentOptions & wsoNoReceiveLoop) || m_lastError != 0 || m_hSocket < 0 || m_paused)
            return;
        // Bytes that arrive after a short read raise a readiness of their own.
        if (m_readCount != before && m_lastReceiveShort)
            return;
        int waiting = 0;
        if (::ioctl(m_hSocket, FIONREAD, &waiting) != 0) {
            m_lastError = lastSystemError();
            return;
        }
        if (waiting <= 0)
            return;
        // A handler that reads nothing twice in a row is called again on the
        // next readiness turn instead of here, so the loop keeps moving.
        if (m_readCount == before && ++stalls >= 2)
            return;
        if (m_readCount != before)
            stalls = 0;
    }
}

// ---- closing ----------------------------------------------------------------

void TCustomWSocket::InternalClose(bool shutdownFirst, int error)
{
    if (m_hSocket < 0) {
        if (m_state != wsClosed) {
            ChangeState(wsClosed);
            AssignDefaultValue();
        }
        return;
    }
    if (m_state == wsClosed)
        return;
    if (shutdownFirst)
        ::shutdown(m_hSocket, SHUT_WR);
    Loop().unwatch(m_hSocket);
    const int handle = m_hSocket;
    m_hSocket = -1;
    if (::close(handle) != 0 && errno != EINTR) {
        m_lastError = lastSystemError();
        ChangeState(wsClosed);
        try {
            RaiseException("Error " + std::to_string(m_lastError) + " in function Disconnect (closesocket)\r\n" +
                           WSocketErrorDesc(m_lastError));
        } catch (...) {
            AssignDefaultValue();
            throw;
        }
        return;
    }
    ChangeState(wsClosed);
    if (!m_destroying && !m_closeInvoked) {
        m_closeInvoked = true;
        TriggerSessionClosed(error);
    }
    try {
        AssignDefaultValue();
    } catch (...) {
    }
}

void TCustomWSocket::Close() { InternalClose(true, 0); }

void TCustomWSocket::CloseDelayed() { postSelf(CloseDelayedEvent); }

void TCustomWSocket::Release() { postSelf(ReleaseEvent); }

void TCustomWSocket::Abort()
{
    if (m_dnsLookupHandle)
        CancelDnsLookup();
    m_sendBufferList.clear();
    m_allSent = true;
    if (m_hSocket >= 0 && m_state == wsConnected && !m_datagram) {
        m_lingerOnOff = wsLingerOff;
        try {
            applyLinger();
        } catch (...) {
        }
    }
    InternalClose(false, 0);
}

void TCustomWSocket::ShutDown(int how)
{
    if (m_hSocket >= 0)
        ::shutdown(m_hSocket, how == 0 ? SHUT_RD : how == 1 ? SHUT_WR : SHUT_RDWR);
}

void TCustomWSocket::Pause()
{
    m_paused = true;
    updateWatch();
}

void TCustomWSocket::Resume()
{
    m_paused = false;
    updateWatch();
}

// ---- name lookup ------------------------------------------------------------

void TCustomWSocket::DnsLookup(const std::string& hostName)
{
    const std::string name = trimmed(hostName);
    if (name.empty()) {
        try {
            RaiseException("DNS lookup: invalid host name.");
        } catch (...) {
            TriggerDnsLookupDone(WSAEINVAL);
            throw;
        }
        TriggerDnsLookupDone(WSAEINVAL);
        return;
    }
    if (m_dnsLookupHandle)
        CancelDnsLookup();
    m_dnsResult.clear();
    m_dnsResultList.clear();
    if (WSocketIsDottedIP(name)) {
        m_dnsResult = dottedAddress(WSocketResolveHost(name));
        TriggerDnsLookupDone(0);
        return;
    }
    m_dnsLookupReverse = false;
    m_dnsLookupHandle = Loop().resolver().start(*this, HostLookupDoneEvent, name, false);
}

void TCustomWSocket::ReverseDnsLookup(const std::string& dottedAddr)
{
    if (trimmed(dottedAddr).empty()) {
        RaiseException("DNS lookup: invalid host name.");
        TriggerDnsLookupDone(WSAEINVAL);
        return;
    }
    if (m_dnsLookupHandle)
        CancelDnsLookup();
    m_dnsResult.clear();
    m_dnsResultList.clear();
    m_dnsLookupReverse = true;
    m_dnsLookupHandle = Loop().resolver().start(*this, AddrLookupDoneEvent, dottedAddr, true);
}

void TCustomWSocket::CancelDnsLookup()
{
    if (!m_dnsLookupHandle)
        return;
    Loop().resolver().cancel(m_dnsLookupHandle);
    m_dnsLookupHandle = 0;
    if (!m_destroying)
        TriggerDnsLookupDone(WSAEINTR);
}

void TCustomWSocket::lookupDone(std::uint64_t id, bool reverse)
{
    if (id != m_dnsLookupHandle)
        return;
    m_dnsLookupHandle = 0;
    auto result = Loop().resolver().take(id);
    if (!result)
        return;
    if (result->error == 0) {
        m_dnsResultList = result->names;
        m_dnsResult = m_dnsResultList.empty() ? std::string() : m_dnsResultList.front();
        if (reverse)
            m_dnsResultList.assign(1, m_dnsResult);
    }
    TriggerDnsLookupDone(result->error);
}

// ---- peer and local addresses -----------------------------------------------

bool TCustomWSocket::GetSockName(SocketAddress& out) const
{
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    if (m_hSocket < 0 || ::getsockname(m_hSocket, reinterpret_cast<sockaddr*>(&sa), &len) != 0)
        return false;
    out.addr = ntohl(sa.sin_addr.s_addr);
    out.port = ntohs(sa.sin_port);
    return true;
}

bool TCustomWSocket::GetPeerName(SocketAddress& out) const
{
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    if (m_hSocket < 0 || ::getpeername(m_hSocket, reinterpret_cast<sockaddr*>(&sa), &len) != 0)
        return false;
    out.addr = ntohl(sa.sin_addr.s_addr);
    out.port = ntohs(sa.sin_port);
    return true;
}

std::string TCustomWSocket::GetPeerAddr() const
{
    SocketAddress a;
    if (m_state != wsConnected || !GetPeerName(a))
        return "error";
    return dottedAddress(htonl(a.addr));
}

std::string TCustomWSocket::GetPeerPort() const
{
    SocketAddress a;
    if (m_state != wsConnected || !GetPeerName(a))
        return "error";
    return std::to_string(a.port);
}

std::string TCustomWSocket::GetXPort() const
{
    SocketAddress a;
    if ((m_state != wsBound && m_state != wsConnected && m_state != wsListening) || !GetSockName(a))
        return "error";
    return std::to_string(a.port);
}

// ---- event dispatch ---------------------------------------------------------

void TCustomWSocket::TriggerSessionConnected(int error)
{
    if (OnSessionConnected)
        OnSessionConnected(*this, error);
}

bool TCustomWSocket::TriggerDataAvailable(int error)
{
    if (!OnDataAvailable)
        return false;
    OnDataAvailable(*this, error);
    return true;
}

void TCustomWSocket::TriggerDataSent(int error)
{
    if (OnDataSent)
        OnDataSent(*this, error);
}

void TCustomWSocket::TriggerSessionClosed(int error)
{
    if (OnSessionClosed)
        OnSessionClosed(*this, error);
}

void TCustomWSocket::TriggerSessionAvailable(int error)
{
    if (OnSessionAvailable)
        OnSessionAvailable(*this, error);
}

void TCustomWSocket::TriggerDnsLookupDone(int error)
{
    if (OnDnsLookupDone)
        OnDnsLookupDone(*this, error);
}

void TCustomWSocket::onReady(int fd, const Readiness& ready)
{
    if (fd != m_hSocket || m_paused)
        return;
    unsigned kinds = 0;
    int error = 0;
    if (m_state == wsConnecting) {
        if (ready.writable || ready.error || ready.hangup) {
            int soError = 0;
            socklen_t len = sizeof soError;
            ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &soError, &len);
            error = winsockErrorFromErrno(soError);
            kinds = FD_CONNECT | (error == 0 ? FD_WRITE : 0u);
        }
    } else if (m_state == wsListening) {
        if (ready.readable)
            kinds = FD_ACCEPT;
    } else {
        if (ready.readable && !ready.hangup && !ready.error) {
            // Readable without a hang-up: bytes are waiting (a spurious
            // wake-up finds none, and Receive says "would block").
            kinds |= FD_READ;
        } else if (ready.readable || ready.hangup || ready.error) {
            int waiting = 0;
            ::ioctl(fd, FIONREAD, &waiting);
            if (waiting > 0) {
                kinds |= FD_READ;
            } else {
                // Nothing to read: the peer closed or reset, or it was spurious.
                char probe;
                const ssize_t n = ::recv(fd, &probe, 1, MSG_PEEK | MSG_DONTWAIT);
                if (n == 0) {
                    kinds |= FD_CLOSE;
                } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
                    kinds |= FD_CLOSE;
                    error = lastSystemError();
                } else if (n > 0) {
                    kinds |= FD_READ;
                }
            }
        }
        if (ready.writable)
            kinds |= FD_WRITE;
    }
    if (kinds == 0)
        return;
    try {
        dispatch(fd, kinds, error);
    } catch (const std::exception& e) {
        HandleBackGroundException(e);
    }
}

void TCustomWSocket::dispatch(int fd, unsigned kinds, int error)
{
    if (kinds & FD_CONNECT) {
        ChangeState(wsConnected);
        updateWatch();
        TriggerSessionConnected(error);
        if (error != 0 && m_state != wsClosed)
            Close();
    }
    if ((kinds & FD_READ) && m_hSocket == fd)
        receiveLoop(error);
    if ((kinds & FD_WRITE) && m_hSocket == fd) {
        m_dataSentPosted = false;
        TryToSend();
        updateWatch();
        if (m_allSent && m_hSocket == fd)
            TriggerDataSent(error);
    }
    if ((kinds & FD_ACCEPT) && m_hSocket == fd)
        TriggerSessionAvailable(error);
    if ((kinds & FD_CLOSE) && m_hSocket == fd && m_state != wsConnecting) {
        receiveLoop(0);
        if (!m_closeInvoked) {
            m_closeInvoked = true;
            TriggerSessionClosed(error);
        }
        if (m_state != wsClosed)
            Close();
    }
}

void TCustomWSocket::onPosted(int kind, std::intptr_t a, std::intptr_t b)
{
    try {
        switch (kind) {
        case AsyncSelectEvent:
            if (static_cast<int>(a) == m_hSocket && !m_paused)
                dispatch(static_cast<int>(a), static_cast<unsigned>(b), 0);
            else
                m_dataSentPosted = false;
            break;
        case HostLookupDoneEvent:
            lookupDone(static_cast<std::uint64_t>(a), false);
            break;
        case AddrLookupDoneEvent:
            lookupDone(static_cast<std::uint64_t>(a), true);
            break;
        case CloseDelayedEvent:
            Close();
            break;
        case ReleaseEvent:
            delete this;
            return;
        default:
            onSubclassEvent(kind, a, b);
            break;
        }
    } catch (const std::exception& e) {
        HandleBackGroundException(e);
    }
}

} // namespace vesk2::net
