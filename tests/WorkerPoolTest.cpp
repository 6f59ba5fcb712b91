#include "cli/WorkerPool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "util/Monitor.h"

namespace perchlight::cli {
namespace {

using namespace std::chrono_literals;

// A task that waits on a monitor lets the pool start another thread for the task that wakes it:
// with one thread at work and no more, the two tasks would wait for each other.
TEST(WorkerPool, AWaitingTaskLetsTheNextOneWork) {
    Monitor monitor;
    bool woken = false;  // guarded by monitor
    std::atomic<bool> sawWake{false};
    std::atomic<bool> finished{false};
    std::size_t threads = 0;
    {
        WorkerPool pool(1, 4);
        pool.post([&] {
            MonitorLock guard(monitor);
            for (int i = 0; i < 100 && !woken; ++i) {
                monitor.waitFor(100ms);
            }
            sawWake = woken;
            finished = true;
        });
        pool.post([&] {
            MonitorLock guard(monitor);
            woken = true;
            monitor.broadcast();
        });
        for (int i = 0; i < 400 && !finished; ++i) {
            std::this_thread::sleep_for(50ms);
        }
        threads = pool.threads();
    }
    EXPECT_TRUE(sawWake);
    EXPECT_EQ(threads, 2u);
}

// Tasks that never wait keep to the threads at work; every task posted runs before the pool
// goes, those that tasks post while it goes too.
TEST(WorkerPool, KeepsToItsThreadsAndRunsEveryTaskBeforeItGoes) {
    std::atomic<int> ran{0};
    std::size_t threads = 0;
    {
        WorkerPool pool(2, 50);
        for (int i = 0; i < 500; ++i) {
            pool.post([&pool, &ran, i] {
                ++ran;
                if (i % 100 == 0) {
                    pool.post([&ran] { ++ran; });
                }
            });
        }
        threads = pool.threads();
    }
    EXPECT_EQ(ran, 505);
    EXPECT_LE(threads, 2u);
}

// A wait inside a wait is one wait, and a wait with nothing queued starts no thread.
TEST(WorkerPool, NestedWaitsCountOnce) {
    Monitor monitor;
    std::atomic<bool> done{false};
    std::size_t threads = 0;
    {
        WorkerPool pool(1, 8);
        pool.post([&] {
            const BlockingWait outer;
            MonitorLock guard(monitor);
            monitor.waitFor(1ms);  // nested in outer: no thread more
            monitor.waitFor(1ms);
            done = true;
        });
        while (!done) {
            std::this_thread::sleep_for(1ms);
        }
        threads = pool.threads();
    }
    // Nothing waited to be run: no thread more.
    EXPECT_EQ(threads, 1u);
}

}  // namespace
}  // namespace perchlight::cli
