#include "util/Monitor.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace perchlight {
namespace {

using namespace std::chrono_literals;

TEST(Monitor, OwnerMayEnterAgain) {
    Monitor monitor;
    MonitorLock outer(monitor);
    MonitorLock inner(monitor);
    SUCCEED();
}

TEST(Monitor, TimedWaitWithoutSignalTimesOut) {
    Monitor monitor;
    MonitorLock hold(monitor);
    EXPECT_FALSE(monitor.waitFor(1ms));
}

TEST(Monitor, SignalBeforeAnyWaitIsNotKept) {
    Monitor monitor;
    monitor.signal();
    MonitorLock hold(monitor);
    EXPECT_FALSE(monitor.waitFor(1ms));
}

// The waiter holds the monitor twice; the wait must release both levels so that the signalling
// thread can enter, and restore both before it returns.
TEST(Monitor, WaitReleasesEveryLevelAndRestoresThem) {
    Monitor monitor;
    std::atomic<bool> waiting = false;
    std::atomic<bool> woken = false;
    std::thread waiter([&] {
        MonitorLock outer(monitor);
        MonitorLock inner(monitor);
        waiting = true;
        while (!monitor.waitFor(10ms)) {
        }
        woken = true;
    });
    while (!waiting) {
        std::this_thread::yield();
    }
    {
        // Entering proves the waiter released both levels.
        MonitorLock hold(monitor);
        monitor.signal();
    }
    waiter.join();
    EXPECT_TRUE(woken);
    // The waiter's levels were all released on its way out.
    MonitorLock again(monitor);
}

TEST(Monitor, BroadcastWakesEveryWaiter) {
    Monitor monitor;
    constexpr int kWaiters = 4;
    std::atomic<int> waiting = 0;
    std::atomic<int> woken = 0;
    std::vector<std::thread> threads;
    for (int i = 0; i < kWaiters; ++i) {
        threads.emplace_back([&] {
            MonitorLock hold(monitor);
            ++waiting;
            monitor.wait();
            ++woken;
        });
    }
    // Broadcast only once every waiter stands in its wait: a waiter holds the monitor from the
    // increment until the wait releases it, so entering after the count is complete suffices.
    while (waiting < kWaiters) {
        std::this_thread::yield();
    }
    {
        MonitorLock hold(monitor);
        monitor.broadcast();
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(woken, kWaiters);
}

TEST(Monitor, SignalWakesOneWaiterAtATime) {
    Monitor monitor;
    std::atomic<int> waiting = 0;
    std::atomic<int> woken = 0;
    std::vector<std::thread> threads;
    for (int i = 0; i < 2; ++i) {
        threads.emplace_back([&] {
            MonitorLock hold(monitor);
            ++waiting;
            monitor.wait();
            ++woken;
        });
    }
    while (waiting < 2) {
        std::this_thread::yield();
    }
    {
        MonitorLock hold(monitor);
        monitor.signal();
    }
    while (woken < 1) {
        std::this_thread::yield();
    }
    EXPECT_EQ(woken, 1);
    {
        MonitorLock hold(monitor);
        monitor.signal();
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(woken, 2);
}

// A wake given by the holder reaches the waiter as the holder lets go of the monitor, every
// level of it; one given by a thread that does not hold the monitor reaches it at once.
TEST(Monitor, WakesGivenByTheHolderArriveAsItLetsGo) {
    Monitor monitor;
    std::atomic<int> waiting = 0;
    std::atomic<int> woken = 0;
    const auto waitOnce = [&] {
        MonitorLock hold(monitor);
        ++waiting;
        EXPECT_TRUE(monitor.waitFor(10s));
        ++woken;
    };
    std::thread first(waitOnce);
    while (waiting < 1) {
        std::this_thread::yield();
    }
    {
        MonitorLock outer(monitor);
        {
            MonitorLock inner(monitor);
            monitor.broadcast();
        }
        std::this_thread::sleep_for(20ms);
        EXPECT_EQ(woken, 0) << "the monitor is still held";
    }
    first.join();
    EXPECT_EQ(woken, 1);

    std::thread second(waitOnce);
    while (waiting < 2) {
        std::this_thread::yield();
    }
    // The waiter has released the monitor in its wait once this thread can enter it.
    { MonitorLock entered(monitor); }
    monitor.signal();
    second.join();
    EXPECT_EQ(woken, 2);
}

}  // namespace
}  // namespace perchlight
