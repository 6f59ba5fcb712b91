#include "retrieval/SharedFetches.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>

#include "retrieval/CheckRegistry.h"
#include "util/Error.h"
#include "util/Monitor.h"

namespace perchlight {
namespace {

constexpr const char* kUrl = "http://127.0.0.1:1/w3c/policy.xml";

// Waits, within a bound, until the given number of threads follow the running fetch.
bool followersArrive(SharedFetches& fetches, int count) {
    for (int i = 0; i < 5000; ++i) {
        if (fetches.waiting(kUrl) >= count) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

// A fetch that runs until released, counting its runs.
struct HeldFetch {
    std::atomic<int> runs{0};
    std::promise<void> release;
    std::shared_future<void> released{release.get_future().share()};
    bool stop = false;

    SharedFetches::Outcome operator()() {
        ++runs;
        released.wait();
        if (stop) {
            PERCHLIGHT_RAISE(kStopMessage, "test");
        }
        return {std::string("<POLICY/>"), "HTTP/1.1 200 OK\r\n\r\n", nullptr, std::nullopt, false};
    }
};

TEST(SharedFetchesTest, Concurrent_OneDownloadServesEveryAsker) {
    SharedFetches fetches;
    HeldFetch held;
    auto fetch = [&held] { return held(); };
    auto first = std::async(std::launch::async, [&] { return fetches.fetchOnce(kUrl, fetch); });
    while (held.runs == 0) {
        std::this_thread::yield();
    }
    auto second = std::async(std::launch::async, [&] { return fetches.fetchOnce(kUrl, fetch); });
    auto third = std::async(std::launch::async, [&] { return fetches.fetchOnce(kUrl, fetch); });
    ASSERT_TRUE(followersArrive(fetches, 2));
    held.release.set_value();
    EXPECT_EQ(first.get().text, "<POLICY/>");
    EXPECT_EQ(second.get().text, "<POLICY/>");
    const SharedFetches::Outcome last = third.get();
    EXPECT_EQ(last.text, "<POLICY/>");
    EXPECT_EQ(last.headers, "HTTP/1.1 200 OK\r\n\r\n");
    EXPECT_EQ(held.runs, 1);
    EXPECT_EQ(fetches.waiting(kUrl), 0);
}

TEST(SharedFetchesTest, LeaderStopped_FollowerFetchesItself) {
    SharedFetches fetches;
    HeldFetch held;
    held.stop = true;
    std::atomic<int> ownRuns{0};
    auto first = std::async(std::launch::async,
                            [&] { return fetches.fetchOnce(kUrl, [&held] { return held(); }); });
    while (held.runs == 0) {
        std::this_thread::yield();
    }
    auto second = std::async(std::launch::async, [&] {
        return fetches.fetchOnce(kUrl, [&ownRuns] {
            ++ownRuns;
            return SharedFetches::Outcome{std::string("own"), "", nullptr, std::nullopt, false};
        });
    });
    ASSERT_TRUE(followersArrive(fetches, 1));
    held.release.set_value();
    EXPECT_THROW(first.get(), Error);
    EXPECT_EQ(second.get().text, "own");
    EXPECT_EQ(ownRuns, 1);
}

// A follower on a check thread whose check is cancelled stops waiting with "STOP" while the
// download goes on for whoever else needs it.
TEST(SharedFetchesTest, FollowerCancelled_StopsWithoutWaitingForTheDownload) {
    SharedFetches fetches;
    HeldFetch held;
    auto fetch = [&held] { return held(); };
    auto first = std::async(std::launch::async, [&] { return fetches.fetchOnce(kUrl, fetch); });
    while (held.runs == 0) {
        std::this_thread::yield();
    }
    Monitor checkMonitor;
    std::atomic<bool> stopped{false};
    std::thread follower([&] {
        CheckRegistry::registerCurrentThread(checkMonitor);
        try {
            fetches.fetchOnce(kUrl, fetch);
        } catch (const Error& error) {
            stopped = isStop(error);
        }
        CheckRegistry::unregisterCurrentThread();
    });
    ASSERT_TRUE(followersArrive(fetches, 1));
    // A wake before the follower waits is lost, so the cancel repeats it as a window does.
    std::atomic<bool> ended{false};
    std::thread canceller([&] {
        for (int i = 0; i < 500 && !ended; ++i) {
            {
                MonitorLock guard(checkMonitor);
                checkMonitor.broadcast();
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    });
    follower.join();
    ended = true;
    canceller.join();
    EXPECT_TRUE(stopped);
    held.release.set_value();
    EXPECT_EQ(first.get().text, "<POLICY/>");
    EXPECT_EQ(held.runs, 1);
}

// A caller that does not wait on a thread is told of a running fetch's end, with its outcome,
// or with none when the leader was stopped; of no fetch when none runs.
TEST(SharedFetchesTest, WhenLanded_TellsTheOutcomeOfTheRunningFetchOnly) {
    SharedFetches fetches;
    EXPECT_FALSE(fetches.whenLanded(kUrl, [](const SharedFetches::Outcome*) {}));

    SharedFetches::Lead lead = fetches.tryLead(kUrl);
    ASSERT_TRUE(lead);
    std::optional<std::string> told;
    int calls = 0;
    ASSERT_TRUE(fetches.whenLanded(kUrl, [&](const SharedFetches::Outcome* outcome) {
        ++calls;
        told = outcome != nullptr ? outcome->dropped : std::nullopt;
    }));
    SharedFetches::Outcome outcome;
    outcome.dropped = "<html>not a policy</html>";
    fetches.land(kUrl, lead, outcome);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(told, "<html>not a policy</html>");
    EXPECT_FALSE(fetches.whenLanded(kUrl, [](const SharedFetches::Outcome*) {}));

    lead = fetches.tryLead(kUrl);
    bool none = false;
    ASSERT_TRUE(fetches.whenLanded(
        kUrl, [&](const SharedFetches::Outcome* outcome) { none = outcome == nullptr; }));
    fetches.abandon(kUrl, lead);
    EXPECT_TRUE(none);
}

}  // namespace
}  // namespace perchlight
