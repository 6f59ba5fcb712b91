#include "cli/CheckDeadlines.h"

namespace perchlight::cli {

CheckDeadlines::~CheckDeadlines() {
    {
        std::lock_guard<std::mutex> guard(lock_);
        stopping_ = true;
    }
    changed_.notify_all();
    if (thread_.joinable()) {
        thread_.join();
    }
}

std::uint64_t CheckDeadlines::add(Clock::time_point deadline, Cancel cancel) {
    std::uint64_t id = 0;
    bool earliest = false;
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (!thread_.joinable()) {
            thread_ = std::thread([this] { loop(); });
        }
        id = ++lastId_;
        entries_.emplace(id, Entry{deadline, std::move(cancel)});
        earliest = due_.empty() || deadline < due_.begin()->first;
        due_.emplace(deadline, id);
    }
    if (earliest) {
        changed_.notify_all();
    }
    return id;
}

void CheckDeadlines::remove(std::uint64_t id) {
    std::unique_lock<std::mutex> guard(lock_);
    const auto entry = entries_.find(id);
    if (entry == entries_.end()) {
        return;
    }
    // Not due again, whether or not its cancel runs now; then gone once that has returned.
    due_.erase({entry->second.deadline, id});
    entry->second.removed = true;
    changed_.wait(guard, [this, id] { return firing_ != id; });
    entries_.erase(id);
}

void CheckDeadlines::loop() {
    std::unique_lock<std::mutex> guard(lock_);
    while (!stopping_) {
        if (due_.empty()) {
            changed_.wait(guard);
            continue;
        }
        const auto [deadline, id] = *due_.begin();
        if (Clock::now() < deadline) {
            changed_.wait_until(guard, deadline);
            continue;
        }
        due_.erase(due_.begin());
        firing_ = id;
        const Cancel cancel = entries_.at(id).cancel;
        guard.unlock();
        cancel();
        guard.lock();
        firing_ = 0;
        Entry& entry = entries_.at(id);
        if (!entry.removed) {
            entry.deadline = Clock::now() + kRepeat;
            due_.emplace(entry.deadline, id);
        }
        changed_.notify_all();
    }
}

}  // namespace perchlight::cli
