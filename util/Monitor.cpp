#include "util/Monitor.h"

#include <cassert>

#include "util/BlockingWait.h"

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
        wakeHeldBack();
        released_.notify_one();
    }
}

// Done under state_ with the monitor just released: a woken waiter may take it at once, and the
// monitor stays alive until then, as its holder does not let it go before this returns.
void Monitor::wakeHeldBack() {
    if (heldBack_ == HeldBack::kAll) {
        signalled_.notify_all();
    } else if (heldBack_ == HeldBack::kOne) {
        signalled_.notify_one();
    }
    heldBack_ = HeldBack::kNone;
}

void Monitor::wait() {
    const BlockingWait mark;
    std::unique_lock guard(state_);
    waitUntil(guard, nullptr);
}

bool Monitor::waitFor(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    const BlockingWait mark;
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
    wakeHeldBack();
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

// A waiter woken while the signalling thread holds the monitor could only wait again, for the
// monitor, and be woken a second time when it is released: it is woken once, as it is released.
void Monitor::signal() {
    std::lock_guard guard(state_);
    if (waiters_ > wakeups_) {
        ++wakeups_;
        if (depth_ > 0 && owner_ == std::this_thread::get_id()) {
            heldBack_ = heldBack_ == HeldBack::kNone ? HeldBack::kOne : HeldBack::kAll;
        } else {
            signalled_.notify_one();
        }
    }
}

void Monitor::broadcast() {
    std::lock_guard guard(state_);
    if (waiters_ > wakeups_) {
        wakeups_ = waiters_;
        if (depth_ > 0 && owner_ == std::this_thread::get_id()) {
            heldBack_ = HeldBack::kAll;
        } else {
            signalled_.notify_all();
        }
    }
}

}  // namespace perchlight
