#pragma once
// The single-threaded event loop that every connection, timer and deferred
// action of vesk2 runs on.
//
// Contract
// - One thread runs the loop (the "loop thread"). Every callback below is made
//   on that thread, one at a time, and runs to completion before the next one.
//   The only call that may come from another thread is postFromAnyThread()
//   (the resolver thread uses it to hand back its results).
// - Readiness notifications, posted events and timer ticks share one
//   first-in first-out queue. A posted event is delivered after everything
//   already queued and never from inside the call that posts it.
// - Every callback has a target, an EventTarget. When a target is destroyed,
//   its watches and timers are cancelled and everything still queued for it is
//   dropped, so a callback never reaches a dead object.
// - A target must not be destroyed inside one of its own callbacks: post an
//   event to its owner, or to itself, and destroy it from there.
// - runOnce() processes at most the items that were queued when the drain
//   began, so a target that keeps posting cannot starve the sockets.
// - Embedding: pollFd() is readable whenever the loop has work; nextTimeoutMs()
//   tells when the next timer falls due; runOnce(0) does the work. A window
//   toolkit watches the first, arms a timer with the second and calls the third.

#include <chrono>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

namespace vesk2::net {

class EventLoop;
class Resolver;

// Readiness interests a target registers a descriptor for.
enum ReadyInterest : unsigned {
    riRead = 1,  // readable, peer closed, incoming connection
    riWrite = 2, // writable, connect finished
};

// Raw readiness reported to a target: the epoll bits.
struct Readiness {
    bool readable = false;
    bool writable = false;
    bool hangup = false;     // peer closed or reset (EPOLLHUP/EPOLLRDHUP)
    bool error = false;      // EPOLLERR
};

class EventTarget {
public:
    explicit EventTarget(EventLoop& loop);
    virtual ~EventTarget();
    EventTarget(const EventTarget&) = delete;
    EventTarget& operator=(const EventTarget&) = delete;

    EventLoop& Loop() const { return m_loop; }
    std::uint64_t targetId() const { return m_id; }

protected:
    friend class EventLoop;
    // A posted event with its kind and two arguments.
    virtual void onPosted(int /*kind*/, std::intptr_t /*a*/, std::intptr_t /*b*/) {}
    // Readiness of a descriptor this target watches.
    virtual void onReady(int /*fd*/, const Readiness& /*ready*/) {}
    // A tick of a timer this target started.
    virtual void onTimer(int /*timerId*/) {}

private:
    EventLoop& m_loop;
    std::uint64_t m_id;
};

class EventLoop {
public:
    EventLoop();
    ~EventLoop();
    EventLoop(const EventLoop&) = delete;
    EventLoop& operator=(const EventLoop&) = delete;

    // Registers fd for the interests (a set of ReadyInterest) with a target;
    // registering again replaces the set; an empty set suspends notifications.
    // Returns false with errno set when the system refuses.
    bool watch(int fd, unsigned interests, EventTarget& target);
    // Cancels the registration of fd (nothing if it has none). Queued
    // notifications for it are dropped.
    void unwatch(int fd);

    // Queues an event for target; see the contract above.
    void post(EventTarget& target, int kind, std::intptr_t a = 0, std::intptr_t b = 0);
    // Queues a task that runs only if target still exists when it comes due.
    void post(EventTarget& target, std::function<void()> task);
    // Thread-safe variant for other threads.
    void postFromAnyThread(std::uint64_t targetId, int kind, std::intptr_t a = 0, std::intptr_t b = 0);

    // Starts a periodic timer for target; returns its id (> 0).
    int startTimer(EventTarget& target, int intervalMs);
    // Stops a timer; ticks already queued for it are dropped.
    void stopTimer(int timerId);

    // Waits at most timeoutMs (-1: until there is work) for work and does it.
    // Returns true if anything was processed.
    bool runOnce(int timeoutMs);
    // MessagePump: processes pending work once, through the pump (replaceable
    // by a window toolkit that has its own loop).
    void MessagePump();
    void setPump(std::function<void()> pump);
    // Runs until quit() is called.
    void run();
    void quit();
    bool quitRequested() const { return m_quit; }

    // The asynchronous name resolver (its thread starts with the first lookup).
    Resolver& resolver();

    int pollFd() const { return m_epollFd; }
    // Milliseconds until the next timer is due (0 when something is queued), -1 for none.
    int nextTimeoutMs() const;

    // Called with every exception that escapes a callback (the default prints it
    // to standard error). The loop always goes on.
    std::function<void(const std::exception&)> OnUncaught;

    // For tests: what the loop still holds.
    std::size_t watchCount() const { return m_watches.size(); }
    std::size_t timerCount() const { return m_timers.size(); }
    std::size_t queuedCount() const;

private:
    friend class EventTarget;
    using Clock = std::chrono::steady_clock;

    enum class ItemType { Posted, Task, Ready, Timer };
    struct Item {
        ItemType type;
        std::uint64_t targetId;
        int kind = 0; // posted kind, fd or timer id
        std::intptr_t a = 0;
        std::intptr_t b = 0;
        Readiness ready;
        std::function<void()> task;
    };
    struct Watch {
        std::uint64_t targetId;
        unsigned interests;
    };
    struct Timer {
        std::uint64_t targetId;
        int intervalMs;
        Clock::time_point due;
    };

    std::uint64_t addTarget(EventTarget& target);
    void removeTarget(std::uint64_t id);
    void enqueue(Item item);
    void collectReadiness(int timeoutMs);
    void collectTimers();
    void deliver(Item& item);

    int m_epollFd = -1;
    int m_wakeFd = -1;
    bool m_quit = false;
    std::uint64_t m_nextTargetId = 1;
    int m_nextTimerId = 1;
    std::unordered_map<std::uint64_t, EventTarget*> m_targets;
    std::unordered_map<int, Watch> m_watches;
    std::map<int, Timer> m_timers;
    mutable std::mutex m_queueLock; // the queue is shared with postFromAnyThread
    std::deque<Item> m_queue;
    std::function<void()> m_pump;
    std::unique_ptr<Resolver> m_resolver;
};

} // namespace vesk2::net
