#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <utility>

namespace perchlight::cli {

// Cancels the checks that outlast their time limit, for any number of checks running on the
// callers' threads, with one thread for all of them (started with the first deadline). A check
// that has passed its deadline is cancelled again every kRepeat until it is removed: a wake of
// its monitor that comes before the check waits is lost. Thread-safe.
class CheckDeadlines {
  public:
    using Clock = std::chrono::steady_clock;
    using Cancel = std::function<void()>;
    static constexpr std::chrono::milliseconds kRepeat{100};

    CheckDeadlines() = default;
    ~CheckDeadlines();
    CheckDeadlines(const CheckDeadlines&) = delete;
    CheckDeadlines& operator=(const CheckDeadlines&) = delete;

    // Calls cancel, on the deadlines' thread, once the deadline has passed; must not throw.
    std::uint64_t add(Clock::time_point deadline, Cancel cancel);
    // Once this returns, the deadline's cancel neither runs nor will run.
    void remove(std::uint64_t id);

  private:
    struct Entry {
        Clock::time_point deadline;  // when it is due next; not due while its cancel runs
        Cancel cancel;
        bool removed = false;  // being removed: never due again
    };

    void loop();

    std::mutex lock_;
    std::condition_variable changed_;
    std::map<std::uint64_t, Entry> entries_;                     // guarded by lock_
    std::set<std::pair<Clock::time_point, std::uint64_t>> due_;  // guarded by lock_
    std::uint64_t lastId_ = 0;                                   // guarded by lock_
    std::uint64_t firing_ = 0;  // guarded by lock_: the id whose cancel runs now, or 0
    bool stopping_ = false;     // guarded by lock_
    std::thread thread_;
};

}  // namespace perchlight::cli
