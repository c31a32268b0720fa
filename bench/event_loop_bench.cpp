// Drives a running server with many concurrent control connections: each
// client connects, waits for the greeting, then sends COMMANDS commands one
// at a time, each after the reply to the one before. Prints the command round
// trips per second and the server's memory: resident size before the
// clients, with all of them connected and idle, and its peak.
//
//   event_loop_bench PORT SERVER_PID [CLIENTS [COMMANDS]]
//
// Plain sockets and epoll only, so the driver itself stays cheap.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Client {
    int fd = -1;
    std::string pending; // bytes of a reply line not yet complete
    int sent = 0;
    bool greeted = false;
    bool done = false;
};

long statusKib(int pid, const char* field)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    const std::string prefix = std::string(field) + ":";
    while (std::getline(in, line))
        if (line.rfind(prefix, 0) == 0)
            return std::strtol(line.c_str() + prefix.size(), nullptr, 10);
    return -1;
}

[[noreturn]] void fail(const char* what)
{
    std::fprintf(stderr, "event_loop_bench: %s: %s\n", what, std::strerror(errno));
    std::exit(1);
}

// Counts the complete reply lines that arrived; false when the server closed.
bool readLines(Client& c, int& lines)
{
    char buf[4096];
    for (;;) {
        const ssize_t n = ::recv(c.fd, buf, sizeof buf, 0);
        if (n == 0)
            return false;
        if (n < 0)
            return errno == EAGAIN || errno == EWOULDBLOCK;
        c.pending.append(buf, static_cast<std::size_t>(n));
        for (std::size_t at; (at = c.pending.find('\n')) != std::string::npos;) {
            c.pending.erase(0, at + 1);
            ++lines;
        }
    }
}

void sendCommand(Client& c)
{
    static const char kCommand[] = "NOOP\r\n";
    if (::send(c.fd, kCommand, sizeof kCommand - 1, MSG_NOSIGNAL) != sizeof kCommand - 1)
        fail("send");
    ++c.sent;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: event_loop_bench PORT SERVER_PID [CLIENTS [COMMANDS]]\n");
        return 2;
    }
    const int port = std::atoi(argv[1]);
    const int serverPid = std::atoi(argv[2]);
    const int clientCount = argc > 3 ? std::atoi(argv[3]) : 500;
    const int commands = argc > 4 ? std::atoi(argv[4]) : 100;

    const long rssBefore = statusKib(serverPid, "VmRSS");
    const int ep = ::epoll_create1(0);
    std::vector<Client> clients(static_cast<std::size_t>(clientCount));
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<std::uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    for (std::size_t i = 0; i < clients.size(); ++i) {
        Client& c = clients[i];
        c.fd = ::socket(AF_INET, SOCK_STREAM, 0);
        if (c.fd < 0)
            fail("socket");
        if (::connect(c.fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
            fail("connect");
        const int on = 1;
        ::setsockopt(c.fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        // Reads drain what has arrived and come back; they never wait.
        ::fcntl(c.fd, F_SETFL, ::fcntl(c.fd, F_GETFL) | O_NONBLOCK);
        epoll_event ev{};
        ev.events = EPOLLIN;
        ev.data.u64 = i;
        ::epoll_ctl(ep, EPOLL_CTL_ADD, c.fd, &ev);
    }

    // Every client is greeted first; then they all sit idle for a moment.
    int greeted = 0;
    std::vector<epoll_event> events(256);
    const auto deadline = Clock::now() + std::chrono::seconds(60);
    while (greeted < clientCount) {
        const int n = ::epoll_wait(ep, events.data(), static_cast<int>(events.size()), 1000);
        if (Clock::now() > deadline) {
            std::fprintf(stderr, "event_loop_bench: only %d of %d clients were greeted\n", greeted, clientCount);
            return 1;
        }
        for (int k = 0; k < n; ++k) {
            Client& c = clients[events[k].data.u64];
            int lines = 0;
            if (!readLines(c, lines)) {
                std::fprintf(stderr, "event_loop_bench: the server closed a connection while greeting\n");
                return 1;
            }
            if (lines > 0 && !c.greeted) {
                c.greeted = true;
                ++greeted;
            }
        }
    }
    ::usleep(300 * 1000);
    const long rssIdle = statusKib(serverPid, "VmRSS");

    const auto start = Clock::now();
    for (Client& c : clients)
        sendCommand(c);
    long replies = 0;
    int finished = 0;
    while (finished < clientCount) {
        const int n = ::epoll_wait(ep, events.data(), static_cast<int>(events.size()), 10000);
        if (n == 0) {
            std::fprintf(stderr, "event_loop_bench: no reply for 10 s\n");
            return 1;
        }
        for (int k = 0; k < n; ++k) {
            Client& c = clients[events[k].data.u64];
            int lines = 0;
            if (!readLines(c, lines)) {
                std::fprintf(stderr, "event_loop_bench: the server closed a connection\n");
                return 1;
            }
            replies += lines;
            for (int l = 0; l < lines && !c.done; ++l) {
                if (c.sent < commands) {
                    sendCommand(c);
                } else {
                    c.done = true;
                    ++finished;
                }
            }
        }
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const long rssPeak = statusKib(serverPid, "VmHWM");
    for (Client& c : clients)
        ::close(c.fd);

    std::printf("clients                     %d\n", clientCount);
    std::printf("commands per client         %d\n", commands);
    std::printf("round trips                 %ld in %.2f s\n", replies, seconds);
    std::printf("round trips per second      %.0f (target >= 50000)\n", static_cast<double>(replies) / seconds);
    std::printf("server RSS before           %ld KiB\n", rssBefore);
    std::printf("server RSS, clients idle    %ld KiB\n", rssIdle);
    std::printf("memory per idle session     %.1f KiB (target < 64)\n",
                static_cast<double>(rssIdle - rssBefore) / clientCount);
    std::printf("server peak RSS             %ld KiB\n", rssPeak);
    return 0;
}
