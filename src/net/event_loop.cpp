#include "net/event_loop.h"

#include "net/resolver.h"

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <stdexcept>
#include <system_error>

namespace vesk2::net {

namespace {

constexpr int kMaxEventsPerWait = 256;

std::uint32_t epollBits(unsigned interests)
{
    std::uint32_t bits = 0;
    if (interests & riRead)
        bits |= EPOLLIN | EPOLLRDHUP;
    if (interests & riWrite)
        bits |= EPOLLOUT;
    return bits;
}

} // namespace

EventTarget::EventTarget(EventLoop& loop) : m_loop(loop), m_id(loop.addTarget(*this)) {}

EventTarget::~EventTarget() { m_loop.removeTarget(m_id); }

EventLoop::EventLoop()
{
    m_epollFd = ::epoll_create1(EPOLL_CLOEXEC);
    m_wakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (m_epollFd < 0 || m_wakeFd < 0)
        throw std::system_error(errno, std::generic_category(), "EventLoop: epoll/eventfd");
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.fd = m_wakeFd;
    ::epoll_ctl(m_epollFd, EPOLL_CTL_ADD, m_wakeFd, &ev);
    m_pump = [this] { runOnce(0); };
    OnUncaught = [](const std::exception& e) { std::fprintf(stderr, "vesk2: unhandled exception: %s\n", e.what()); };
}

EventLoop::~EventLoop()
{
    m_resolver.reset();
    ::close(m_wakeFd);
    ::close(m_epollFd);
}

std::uint64_t EventLoop::addTarget(EventTarget& target)
{
    const std::uint64_t id = m_nextTargetId++;
    m_targets[id] = &target;
    return id;
}

void EventLoop::removeTarget(std::uint64_t id)
{
    m_targets.erase(id);
    for (auto it = m_watches.begin(); it != m_watches.end();) {
        if (it->second.targetId == id) {
            ::epoll_ctl(m_epollFd, EPOLL_CTL_DEL, it->first, nullptr);
            it = m_watches.erase(it);
        } else {
            ++it;
        }
    }
    for (auto it = m_timers.begin(); it != m_timers.end();)
        it = it->second.targetId == id ? m_timers.erase(it) : std::next(it);
    // Queued items for the target are dropped when they come due: delivery
    // looks the target up by id, and ids are never reused.
}

bool EventLoop::watch(int fd, unsigned interests, EventTarget& target)
{
    epoll_event ev{};
    ev.events = epollBits(interests);
    ev.data.fd = fd;
    auto it = m_watches.find(fd);
    const int op = it == m_watches.end() ? EPOLL_CTL_ADD : EPOLL_CTL_MOD;
    if (::epoll_ctl(m_epollFd, op, fd, &ev) != 0)
        return false;
    m_watches[fd] = Watch{target.targetId(), interests};
    return true;
}

void EventLoop::unwatch(int fd)
{
    if (m_watches.erase(fd) > 0)
        ::epoll_ctl(m_epollFd, EPOLL_CTL_DEL, fd, nullptr);
}

void EventLoop::enqueue(Item item)
{
    bool wasEmpty;
    {
        std::lock_guard lock(m_queueLock);
        wasEmpty = m_queue.empty();
        m_queue.push_back(std::move(item));
    }
    if (wasEmpty) {
        // Makes pollFd() readable for an embedding toolkit, and ends a wait.
        const std::uint64_t one = 1;
        [[maybe_unused]] auto n = ::write(m_wakeFd, &one, sizeof one);
    }
}

void EventLoop::post(EventTarget& target, int kind, std::intptr_t a, std::intptr_t b)
{
    Item item{ItemType::Posted, target.targetId()};
    item.kind = kind;
    item.a = a;
    item.b = b;
    enqueue(std::move(item));
}

void EventLoop::post(EventTarget& target, std::function<void()> task)
{
    Item item{ItemType::Task, target.targetId()};
    item.task = std::move(task);
    enqueue(std::move(item));
}

void EventLoop::postFromAnyThread(std::uint64_t targetId, int kind, std::intptr_t a, std::intptr_t b)
{
    Item item{ItemType::Posted, targetId};
    item.kind = kind;
    item.a = a;
    item.b = b;
    enqueue(std::move(item));
}

int EventLoop::startTimer(EventTarget& target, int intervalMs)
{
    if (intervalMs < 1)
        intervalMs = 1;
    const int id = m_nextTimerId++;
    m_timers[id] = Timer{target.targetId(), intervalMs, Clock::now() + std::chrono::milliseconds(intervalMs)};
    return id;
}

void EventLoop::stopTimer(int timerId) { m_timers.erase(timerId); }

Resolver& EventLoop::resolver()
{
    if (!m_resolver)
        m_resolver = std::make_unique<Resolver>(*this);
    return *m_resolver;
}

std::size_t EventLoop::queuedCount() const
{
    std::lock_guard lock(m_queueLock);
    return m_queue.size();
}

int EventLoop::nextTimeoutMs() const
{
    if (queuedCount() > 0)
        return 0;
    if (m_timers.empty())
        return -1;
    auto earliest = Clock::time_point::max();
    for (const auto& [id, timer] : m_timers)
        earliest = std::min(earliest, timer.due);
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(earliest - Clock::now()).count();
    return left <= 0 ? 0 : static_cast<int>(left + 1);
}

void EventLoop::collectReadiness(int timeoutMs)
{
    epoll_event events[kMaxEventsPerWait];
    int n = ::epoll_wait(m_epollFd, events, kMaxEventsPerWait, timeoutMs);
    if (n < 0)
        return; // EINTR: a signal arrived; the caller looks at its flags
    for (int i = 0; i < n; ++i) {
        const int fd = events[i].data.fd;
        if (fd == m_wakeFd) {
            std::uint64_t count;
            [[maybe_unused]] auto r = ::read(m_wakeFd, &count, sizeof count);
            continue;
        }
        auto it = m_watches.find(fd);
        if (it == m_watches.end())
            continue;
        const std::uint32_t bits = events[i].events;
        Item item{ItemType::Ready, it->second.targetId};
        item.kind = fd;
        item.ready.readable = bits & EPOLLIN;
        item.ready.writable = bits & EPOLLOUT;
        item.ready.hangup = bits & (EPOLLHUP | EPOLLRDHUP);
        item.ready.error = bits & EPOLLERR;
        std::lock_guard lock(m_queueLock);
        m_queue.push_back(std::move(item));
    }
}

void EventLoop::collectTimers()
{
    const auto now = Clock::now();
    for (auto& [id, timer] : m_timers) {
        if (timer.due > now)
            continue;
        // A timer that fell far behind ticks once, not once per missed interval.
        timer.due = std::max(timer.due + std::chrono::milliseconds(timer.intervalMs), now);
        Item item{ItemType::Timer, timer.targetId};
        item.kind = id;
        std::lock_guard lock(m_queueLock);
        m_queue.push_back(std::move(item));
    }
}

void EventLoop::deliver(Item& item)
{
    auto it = m_targets.find(item.targetId);
    if (it == m_targets.end())
        return;
    EventTarget* target = it->second;
    switch (item.type) {
    case ItemType::Posted:
        target->onPosted(item.kind, item.a, item.b);
        break;
    case ItemType::Task:
        item.task();
        break;
    case ItemType::Ready: {
        auto w = m_watches.find(item.kind);
        if (w == m_watches.end() || w->second.targetId != item.targetId)
            return; // the descriptor was unwatched or handed on since
        target->onReady(item.kind, item.ready);
        break;
    }
    case ItemType::Timer:
        if (m_timers.count(item.kind))
            target->onTimer(item.kind);
        break;
    }
}

bool EventLoop::runOnce(int timeoutMs)
{
    int wait = timeoutMs;
    const int timerWait = nextTimeoutMs();
    if (timerWait >= 0 && (wait < 0 || timerWait < wait))
        wait = timerWait;
    collectReadiness(wait);
    collectTimers();

    std::size_t count;
    {
        std::lock_guard lock(m_queueLock);
        count = m_queue.size();
    }
    for (std::size_t i = 0; i < count; ++i) {
        Item item;
        {
            std::lock_guard lock(m_queueLock);
            if (m_queue.empty())
                break;
            item = std::move(m_queue.front());
            m_queue.pop_front();
        }
        try {
            deliver(item);
        } catch (const std::exception& e) {
            if (OnUncaught)
                OnUncaught(e);
        } catch (...) {
            if (OnUncaught)
                OnUncaught(std::runtime_error("unknown exception"));
        }
    }
    return count > 0;
}

void EventLoop::MessagePump()
{
    if (m_pump)
        m_pump();
}

void EventLoop::setPump(std::function<void()> pump) { m_pump = std::move(pump); }

void EventLoop::run()
{
    m_quit = false;
    while (!m_quit)
        runOnce(-1);
}

void EventLoop::quit()
{
    m_quit = true;
    const std::uint64_t one = 1;
    [[maybe_unused]] auto n = ::write(m_wakeFd, &one, sizeof one);
}

} // namespace vesk2::net
