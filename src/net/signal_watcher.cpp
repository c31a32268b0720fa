#include "net/signal_watcher.h"

#include <sys/signalfd.h>
#include <unistd.h>

#include <csignal>

namespace vesk2::net {

SignalWatcher::SignalWatcher(EventLoop& loop, std::function<void(int)> onSignal)
    : EventTarget(loop), m_onSignal(std::move(onSignal))
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    ::sigprocmask(SIG_BLOCK, &set, nullptr);
    m_fd = ::signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
    if (m_fd >= 0)
        loop.watch(m_fd, riRead, *this);
}

SignalWatcher::~SignalWatcher()
{
    if (m_fd >= 0) {
        Loop().unwatch(m_fd);
        ::close(m_fd);
    }
}

void SignalWatcher::onReady(int, const Readiness&)
{
    signalfd_siginfo info;
    while (::read(m_fd, &info, sizeof info) == sizeof info)
        if (m_onSignal)
            m_onSignal(static_cast<int>(info.ssi_signo));
}

} // namespace vesk2::net
