#include "cli/WorkerPool.h"

#include <algorithm>
#include <system_error>

namespace perchlight::cli {

WorkerPool::WorkerPool(std::size_t working, std::size_t most)
    : working_(working != 0 ? working : std::max(2u, std::thread::hardware_concurrency())),
      most_(std::max<std::size_t>(most, 1)) {
    working_ = std::min(working_, most_);
    std::lock_guard<std::mutex> guard(lock_);
    threads_.emplace_back([this] { work(); });
}

WorkerPool::~WorkerPool() {
    std::vector<std::thread> threads;
    {
        std::lock_guard<std::mutex> guard(lock_);
        stopping_ = true;
    }
    ready_.notify_all();
    // The last tasks may still start threads as they wait: those are joined too.
    for (;;) {
        {
            std::lock_guard<std::mutex> guard(lock_);
            if (threads_.empty()) {
                break;
            }
            threads.swap(threads_);
        }
        for (std::thread& thread : threads) {
            thread.join();
        }
        threads.clear();
    }
}

void WorkerPool::post(Task task) {
    std::lock_guard<std::mutex> guard(lock_);
    tasks_.push_back(std::move(task));
    if (idle_ > 0) {
        ready_.notify_one();
    } else {
        growLocked();
    }
}

std::size_t WorkerPool::threads() const {
    std::lock_guard<std::mutex> guard(lock_);
    return threads_.size();
}

void WorkerPool::growLocked() {
    if (tasks_.empty() || idle_ > 0 || threads_.size() >= most_ ||
        threads_.size() - waiting_ >= working_) {
        return;
    }
    try {
        threads_.emplace_back([this] { work(); });
    } catch (const std::system_error&) {
        // The threads there are run the tasks.
    }
}

void WorkerPool::work() {
    BlockingWait::setListener(this);
    std::unique_lock<std::mutex> guard(lock_);
    for (;;) {
        if (!tasks_.empty()) {
            Task task = std::move(tasks_.front());
            tasks_.pop_front();
            guard.unlock();
            task();
            task = nullptr;
            guard.lock();
            continue;
        }
        if (stopping_) {
            break;
        }
        ++idle_;
        ready_.wait(guard);
        --idle_;
    }
    guard.unlock();
    BlockingWait::setListener(nullptr);
}

void WorkerPool::waitBegins() {
    std::lock_guard<std::mutex> guard(lock_);
    ++waiting_;
    growLocked();
}

void WorkerPool::waitEnds() {
    std::lock_guard<std::mutex> guard(lock_);
    --waiting_;
}

}  // namespace perchlight::cli
