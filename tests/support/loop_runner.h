#pragma once
// Runs an event loop until a condition holds or a deadline passes.

#include "net/event_loop.h"

#include <chrono>
#include <functional>

namespace vesk2::test {

// Returns the condition's final value; never waits longer than timeoutMs.
inline bool runUntil(net::EventLoop& loop, const std::function<bool()>& done, int timeoutMs = 5000)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return done();
        loop.runOnce(10);
    }
    return true;
}

// Runs the loop for a while, whatever happens.
inline void runFor(net::EventLoop& loop, int ms)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < deadline)
        loop.runOnce(5);
}

} // namespace vesk2::test
