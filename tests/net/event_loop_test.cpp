#include "net/event_loop.h"
#include "support/loop_runner.h"

#include <gtest/gtest.h>

#include <poll.h>

#include <memory>
#include <vector>

using namespace vesk2::net;
using vesk2::test::runUntil;

namespace {

struct Recorder : EventTarget {
    explicit Recorder(EventLoop& loop) : EventTarget(loop) {}
    std::vector<int> kinds;
    int ticks = 0;
    void onPosted(int kind, std::intptr_t, std::intptr_t) override { kinds.push_back(kind); }
    void onTimer(int) override { ++ticks; }
};

TEST(EventLoop, PostedEventsArriveInOrderAndNeverInsidePost)
{
    EventLoop loop;
    Recorder r(loop);
    loop.post(r, 1);
    loop.post(r, 2);
    loop.post(r, [&] { r.kinds.push_back(3); });
    EXPECT_TRUE(r.kinds.empty());
    loop.runOnce(0);
    EXPECT_EQ(r.kinds, (std::vector<int>{1, 2, 3}));
}

TEST(EventLoop, EventsForADestroyedTargetAreDropped)
{
    EventLoop loop;
    auto r = std::make_unique<Recorder>(loop);
    Recorder survivor(loop);
    loop.post(*r, 1);
    loop.post(survivor, 2);
    r.reset();
    loop.runOnce(0);
    EXPECT_EQ(survivor.kinds, std::vector<int>{2});
}

TEST(EventLoop, EventPostedDuringTheDrainWaitsForTheNextTurn)
{
    EventLoop loop;
    Recorder r(loop);
    loop.post(r, [&] {
        r.kinds.push_back(1);
        loop.post(r, 2);
    });
    loop.runOnce(0);
    EXPECT_EQ(r.kinds, std::vector<int>{1});
    loop.runOnce(0);
    EXPECT_EQ(r.kinds, (std::vector<int>{1, 2}));
}

TEST(EventLoop, TimerTicksUntilStoppedAndStopsWithItsTarget)
{
    EventLoop loop;
    auto r = std::make_unique<Recorder>(loop);
    const int id = loop.startTimer(*r, 5);
    EXPECT_GT(loop.nextTimeoutMs(), -1);
    ASSERT_TRUE(runUntil(loop, [&] { return r->ticks >= 3; }, 2000));
    loop.stopTimer(id);
    const int seen = r->ticks;
    vesk2::test::runFor(loop, 30);
    EXPECT_EQ(r->ticks, seen);
    loop.startTimer(*r, 5);
    EXPECT_EQ(loop.timerCount(), 1u);
    r.reset();
    EXPECT_EQ(loop.timerCount(), 0u);
}

TEST(EventLoop, PollFdIsReadableWhileWorkIsQueued)
{
    EventLoop loop;
    Recorder r(loop);
    pollfd p{loop.pollFd(), POLLIN, 0};
    EXPECT_EQ(::poll(&p, 1, 0), 0);
    loop.post(r, 7);
    EXPECT_EQ(::poll(&p, 1, 0), 1);
    EXPECT_EQ(loop.nextTimeoutMs(), 0);
    loop.runOnce(0);
    EXPECT_EQ(r.kinds, std::vector<int>{7});
}

TEST(EventLoop, ExceptionInACallbackDoesNotStopTheLoop)
{
    EventLoop loop;
    Recorder r(loop);
    std::string caught;
    loop.OnUncaught = [&](const std::exception& e) { caught = e.what(); };
    loop.post(r, [] { throw std::runtime_error("boom"); });
    loop.post(r, 5);
    loop.runOnce(0);
    EXPECT_EQ(caught, "boom");
    EXPECT_EQ(r.kinds, std::vector<int>{5});
}

} // namespace
