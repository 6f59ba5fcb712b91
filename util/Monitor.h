#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace perchlight {

// A re-entrant lock with wait, timed wait, signal and broadcast. The owning thread may lock it
// again; a wait releases every level of the lock and restores them before it returns. Wakeups are
// counted, so a wait returns only after a signal or broadcast made while it waited (or on
// time-out). A wait is a BlockingWait: a pool running the thread may let another work meanwhile.
// Thread-safe.
class Monitor {
  public:
    Monitor() = default;
    Monitor(const Monitor&) = delete;
    Monitor& operator=(const Monitor&) = delete;

    void lock();
    void unlock();

    // Waits for a signal; the calling thread must hold the monitor.
    void wait();
    // Waits at most the given time; true when signalled, false on time-out.
    bool waitFor(std::chrono::milliseconds timeout);
    // Wakes one waiting thread, if any.
    void signal();
    // Wakes every waiting thread.
    void broadcast();

  private:
    // Wakes held back while the signalling thread held the monitor, given when it lets go.
    enum class HeldBack { kNone, kOne, kAll };

    void wakeHeldBack();
    bool waitUntil(std::unique_lock<std::mutex>& guard,
                   const std::chrono::steady_clock::time_point* deadline);

    std::mutex state_;
    std::condition_variable released_;
    std::condition_variable signalled_;
    std::thread::id owner_;
    int depth_ = 0;
    int waiters_ = 0;
    int wakeups_ = 0;
    HeldBack heldBack_ = HeldBack::kNone;
};

// Holds a Monitor for the lifetime of the guard.
class MonitorLock {
  public:
    explicit MonitorLock(Monitor& monitor) : monitor_(monitor) { monitor_.lock(); }
    ~MonitorLock() { monitor_.unlock(); }
    MonitorLock(const MonitorLock&) = delete;
    MonitorLock& operator=(const MonitorLock&) = delete;

  private:
    Monitor& monitor_;
};

}  // namespace perchlight
