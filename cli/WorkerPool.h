#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "util/BlockingWait.h"

namespace perchlight::cli {

// Runs tasks on a few threads: as many working at once as there are processors, and one more
// for each of its threads that waits for something other than work (marked by BlockingWait: a
// download, another check's fetch), up to a bound, so that a task that has to wait does not hold
// up the others. Threads start as they are needed and end with the pool, which runs every task
// posted before it goes. Thread-safe; post may be called from any thread, the transfer engine's
// too, and returns at once.
class WorkerPool : private BlockingWait::Listener {
  public:
    using Task = std::function<void()>;

    // working: threads at work at once (0: one per processor, at least two); most: threads in
    // all. Raises std::system_error when not even one thread can be started.
    WorkerPool(std::size_t working, std::size_t most);
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    // The task must not throw.
    void post(Task task);
    // Threads started so far.
    std::size_t threads() const;

  private:
    void work();
    void waitBegins() override;
    void waitEnds() override;
    // Starts a thread when tasks wait, none is idle and fewer than working are at work.
    void growLocked();

    std::size_t working_;
    std::size_t most_;
    mutable std::mutex lock_;
    std::condition_variable ready_;
    std::deque<Task> tasks_;            // guarded by lock_
    std::vector<std::thread> threads_;  // guarded by lock_
    std::size_t idle_ = 0;              // guarded by lock_
    std::size_t waiting_ = 0;           // guarded by lock_: threads in a BlockingWait
    bool stopping_ = false;             // guarded by lock_
};

}  // namespace perchlight::cli
