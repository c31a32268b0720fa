#pragma once
// Name and address resolution: the blocking resolver functions of the socket
// layer, and the asynchronous lookups, which run on one resolver thread and
// report back through the event loop.

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

namespace vesk2::net {

class EventLoop;
class EventTarget;

// True for a dotted-quad IPv4 text: leading and trailing blanks allowed, exactly
// three dots, a digit after every dot, each group at most 255.
bool WSocketIsDottedIP(const std::string& text);

// Host text to an IPv4 address in network order. Blocks for a host name.
// Throws ESocketException with the fixed texts.
std::uint32_t WSocketResolveHost(const std::string& host);
// Port text (decimal or service name) to a port in host order.
std::uint16_t WSocketResolvePort(const std::string& port, const std::string& proto);
// Protocol text (number or name) to a protocol number.
int WSocketResolveProto(const std::string& proto);

// Dotted text of an IPv4 address in network order.
std::string dottedAddress(std::uint32_t networkOrder);

class Resolver {
public:
    struct Result {
        int error = 0; // Windows Sockets number
        std::vector<std::string> names; // dotted addresses, or the one host name
    };

    explicit Resolver(EventLoop& loop);
    ~Resolver();
    Resolver(const Resolver&) = delete;
    Resolver& operator=(const Resolver&) = delete;

    // Starts a lookup of `query` (a host name, or with `reverse` a dotted address).
    // When it ends, event `doneKind` is posted to target with a = the returned id
    // (never 0); the result is then fetched with take().
    std::uint64_t start(const EventTarget& target, int doneKind, const std::string& query, bool reverse);
    // The result of a finished lookup; nullopt if unknown or cancelled.
    std::optional<Result> take(std::uint64_t id);
    // Cancels a lookup: its result is dropped and no event is delivered for it.
    void cancel(std::uint64_t id);

private:
    struct Request {
        std::uint64_t id;
        std::uint64_t targetId;
        int doneKind;
        std::string query;
        bool reverse;
    };
    void work();
    static Result resolve(const Request& request);

    EventLoop& m_loop;
    std::mutex m_lock;
    std::condition_variable m_wake;
    std::deque<Request> m_pending;
    std::unordered_map<std::uint64_t, std::optional<Result>> m_results; // present: not cancelled
    std::uint64_t m_nextId = 1;
    bool m_stopping = false;
    std::thread m_thread;
};

} // namespace vesk2::net
