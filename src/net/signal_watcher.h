#pragma once
// Delivers SIGINT and SIGTERM through the event loop instead of interrupting
// whatever runs, so that a shut-down is an ordinary event.

#include "net/event_loop.h"

#include <functional>

namespace vesk2::net {

class SignalWatcher : public EventTarget {
public:
    // Blocks SIGINT and SIGTERM for the process and watches them on the loop.
    SignalWatcher(EventLoop& loop, std::function<void(int signalNumber)> onSignal);
    ~SignalWatcher() override;

private:
    void onReady(int fd, const Readiness& ready) override;

    int m_fd = -1;
    std::function<void(int)> m_onSignal;
};

} // namespace vesk2::net
