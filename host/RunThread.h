#pragma once

#include <atomic>
#include <chrono>
#include <thread>

#include "util/Monitor.h"

namespace perchlight {

// Joins the thread of a page or form run. A cancelled run leaves its waits (a download, the
// check monitor) at the next wake-up, so until it has ended its monitor is signalled every 10 ms.
inline void joinRunThread(std::thread& thread, Monitor& monitor, const std::atomic<bool>& ended,
                          const std::atomic<bool>& cancelled) {
    if (!thread.joinable()) {
        return;
    }
    while (!ended && cancelled) {
        {
            MonitorLock guard(monitor);
            monitor.broadcast();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    thread.join();
}

}  // namespace perchlight
