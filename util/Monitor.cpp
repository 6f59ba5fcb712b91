#include "util/Monitor.h"

#include <cassert>

namespace perchlight {

void Monitor::lock() {
    std::unique_lock guard(state_);
    const auto self = std::this_thread::get_id();
    if (depth_ > 0 && owner_ == self) {
        ++depth_;
        return;
    }
    released_.wait(guard, [this] { return depth_ == 0; });
    owner_ = self;
    depth_ = 1;
}

void Monitor::unlock() {
    std::unique_lock guard(state_);
    assert(depth_ > 0 && owner_ == std::this_thread::get_id());
    if (--depth_ == 0) {
        owner_ = std::thread::id();
        released_.notify_one();
    }
}

void Monitor::wait() {
    std::unique_lock guard(state_);
    waitUntil(guard, nullptr);
}

bool Monitor::waitFor(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::unique_lock guard(state_);
    return waitUntil(guard, &deadline);
}

bool Monitor::waitUntil(std::unique_lock<std::mutex>& guard,
                        const std::chrono::steady_clock::time_point* deadline) {
    const auto self = std::this_thread::get_id();
    assert(depth_ > 0 && owner_ == self);
    const int savedDepth = depth_;
    depth_ = 0;
    owner_ = std::thread::id();
    released_.notify_one();

    ++waiters_;
    const auto woken = [this] { return wakeups_ > 0; };
    bool signalled = true;
    if (deadline == nullptr) {
        signalled_.wait(guard, woken);
    } else {
        signalled = signalled_.wait_until(guard, *deadline, woken);
    }
    if (signalled) {
        --wakeups_;
    }
    --waiters_;

    released_.wait(guard, [this] { return depth_ == 0; });
    owner_ = self;
    depth_ = savedDepth;
    return signalled;
}

void Monitor::signal() {
    std::lock_guard guard(state_);
    if (waiters_ > wakeups_) {
        ++wakeups_;
        signalled_.notify_one();
    }
}

void Monitor::broadcast() {
    std::lock_guard guard(state_);
    if (waiters_ > wakeups_) {
        wakeups_ = waiters_;
        signalled_.notify_all();
    }
}

}  // namespace perchlight
