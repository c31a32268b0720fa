#include "net/resolver.h"

#include "net/event_loop.h"
#include "net/socket_exception.h"
#include "net/winsock_errors.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
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

// The leading decimal number of a text (blanks skipped, stops at the first non-digit).
long leadingNumber(const std::string& s)
{
    std::size_t i = 0;
    while (i < s.size() && s[i] == ' ')
        ++i;
    long value = 0;
    while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i])) && value < 1000000)
        value = value * 10 + (s[i++] - '0');
    return value;
}

std::string format(const char* fmt, const std::string& text, int number)
{
    char buf[512];
    std::snprintf(buf, sizeof buf, fmt, text.c_str(), number);
    return buf;
}

} // namespace

bool WSocketIsDottedIP(const std::string& text)
{
    std::size_t i = 0;
    const std::size_t n = text.size();
    while (i < n && text[i] == ' ')
        ++i;
    if (i >= n || text[i] == '.')
        return false;
    int dots = 0, group = 0;
    bool digitSeen = false;
    for (; i < n && text[i] != ' '; ++i) {
        const char c = text[i];
        if (c == '.') {
            if (!digitSeen)
                return false;
            ++dots;
            group = 0;
            digitSeen = false;
        } else if (c >= '0' && c <= '9') {
            group = group * 10 + (c - '0');
            if (group > 255)
                return false;
            digitSeen = true;
        } else {
            return false;
        }
    }
    for (; i < n; ++i)
        if (text[i] != ' ')
            return false;
    return dots == 3 && digitSeen;
}

std::string dottedAddress(std::uint32_t networkOrder)
{
    in_addr a{};
    a.s_addr = networkOrder;
    char buf[INET_ADDRSTRLEN];
    ::inet_ntop(AF_INET, &a, buf, sizeof buf);
    return buf;
}

std::uint32_t WSocketResolveHost(const std::string& host)
{
    if (host.empty() || host.size() > 256)
        throw ESocketException("WSocketResolveHost: '" + host + "' Invalid Hostname.");
    if (WSocketIsDottedIP(host)) {
        const std::string t = trimmed(host);
        std::uint32_t parts[4] = {};
        std::sscanf(t.c_str(), "%u.%u.%u.%u", &parts[0], &parts[1], &parts[2], &parts[3]);
        const std::uint32_t value = htonl((parts[0] << 24) | (parts[1] << 16) | (parts[2] << 8) | parts[3]);
        if (value == INADDR_NONE && t != "255.255.255.255")
            throw ESocketException("WSocketResolveHost: '" + host + "' Invalid IP address.");
        return value;
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int rc = ::getaddrinfo(host.c_str(), nullptr, &hints, &found);
    if (rc != 0 || !found) {
        const int err = winsockErrorFromResolver(rc, errno);
        throw ESocketException(format("WSocketResolveHost: Cannot convert host address '%s', Error #%d", host, err));
    }
    const std::uint32_t value = reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr.s_addr;
    ::freeaddrinfo(found);
    return value;
}

std::uint16_t WSocketResolvePort(const std::string& port, const std::string& proto)
{
    if (port.empty() || port.size() >= 32)
        throw ESocketException("WSocketResolvePort: Invalid Port.");
    if (std::isdigit(static_cast<unsigned char>(port[0])))
        return static_cast<std::uint16_t>(leadingNumber(port));
    const std::string p = trimmed(proto);
    servent result{};
    servent* found = nullptr;
    char buf[1024];
    ::getservbyname_r(trimmed(port).c_str(), p.empty() ? nullptr : p.c_str(), &result, buf, sizeof buf, &found);
    if (!found)
        throw ESocketException(format("WSocketResolvePort: Cannot convert port '%s', Error #%d", port, WSANO_DATA));
    return ntohs(static_cast<std::uint16_t>(found->s_port));
}

int WSocketResolveProto(const std::string& proto)
{
    if (proto.empty() || proto.size() >= 32)
        throw ESocketException("WSocketResolveProto: Invalid Protocol.");
    if (std::isdigit(static_cast<unsigned char>(proto[0])))
        return static_cast<int>(leadingNumber(proto));
    protoent result{};
    protoent* found = nullptr;
    char buf[1024];
    ::getprotobyname_r(trimmed(proto).c_str(), &result, buf, sizeof buf, &found);
    if (!found) {
        // Containers often lack /etc/protocols; the two names sockets use are known.
        const std::string t = trimmed(proto);
        if (t == "tcp")
            return IPPROTO_TCP;
        if (t == "udp")
            return IPPROTO_UDP;
        throw ESocketException(format("WSocketResolveProto: Cannot convert protocol '%s', Error #%d", proto, WSANO_DATA));
    }
    return found->p_proto;
}

Resolver::Resolver(EventLoop& loop) : m_loop(loop) {}

Resolver::~Resolver()
{
    {
        std::lock_guard lock(m_lock);
        m_stopping = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

std::uint64_t Resolver::start(const EventTarget& target, int doneKind, const std::string& query, bool reverse)
{
    std::lock_guard lock(m_lock);
    if (!m_thread.joinable())
        m_thread = std::thread([this] { work(); });
    const std::uint64_t id = m_nextId++;
    m_pending.push_back(Request{id, target.targetId(), doneKind, query, reverse});
    m_results.emplace(id, std::nullopt);
    m_wake.notify_one();
    return id;
}

std::optional<Resolver::Result> Resolver::take(std::uint64_t id)
{
    std::lock_guard lock(m_lock);
    auto it = m_results.find(id);
    if (it == m_results.end() || !it->second)
        return std::nullopt;
    auto result = std::move(it->second);
    m_results.erase(it);
    return result;
}

void Resolver::cancel(std::uint64_t id)
{
    std::lock_guard lock(m_lock);
    m_results.erase(id);
}

void Resolver::work()
{
    for (;;) {
        Request request;
        {
            std::unique_lock lock(m_lock);
            m_wake.wait(lock, [this] { return m_stopping || !m_pending.empty(); });
            if (m_stopping)
                return;
            request = std::move(m_pending.front());
            m_pending.pop_front();
            if (!m_results.count(request.id))
                continue; // cancelled before it started
        }
        Result result = resolve(request);
        {
            std::lock_guard lock(m_lock);
            auto it = m_results.find(request.id);
            if (it == m_results.end())
                continue; // cancelled while it ran
            it->second = std::move(result);
        }
        m_loop.postFromAnyThread(request.targetId, request.doneKind, static_cast<std::intptr_t>(request.id), 0);
    }
}

Resolver::Result Resolver::resolve(const Request& request)
{
    Result result;
    if (request.reverse) {
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        if (::inet_pton(AF_INET, trimmed(request.query).c_str(), &sa.sin_addr) != 1) {
            result.error = WSAEINVAL;
            return result;
        }
        char host[NI_MAXHOST];
        const int rc = ::getnameinfo(reinterpret_cast<sockaddr*>(&sa), sizeof sa, host, sizeof host, nullptr, 0, NI_NAMEREQD);
        if (rc != 0)
            result.error = winsockErrorFromResolver(rc, errno);
        else
            result.names.push_back(host);
        return result;
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int rc = ::getaddrinfo(request.query.c_str(), nullptr, &hints, &found);
    if (rc != 0) {
        result.error = winsockErrorFromResolver(rc, errno);
        return result;
    }
    for (addrinfo* a = found; a; a = a->ai_next) {
        std::string dotted = dottedAddress(reinterpret_cast<sockaddr_in*>(a->ai_addr)->sin_addr.s_addr);
        bool seen = false;
        for (const auto& n : result.names)
            seen = seen || n == dotted;
        if (!seen)
            result.names.push_back(dotted);
    }
    ::freeaddrinfo(found);
    if (result.names.empty())
        result.error = WSANO_DATA;
    return result;
}

} // namespace vesk2::net
