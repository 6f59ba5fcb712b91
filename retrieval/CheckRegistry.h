#pragma once

#include <string>

#include "util/Error.h"
#include "util/Monitor.h"

namespace perchlight {

// The process-wide map from a check thread to the monitor of its check, through which a download
// made on that thread is woken when the check is cancelled. Thread-safe.
class CheckRegistry {
  public:
    // Registers the calling thread; nothing happens when it is registered already.
    static void registerCurrentThread(Monitor& checkMonitor);
    static void unregisterCurrentThread();
    // The calling thread's check monitor, or null when it runs no check.
    static Monitor* monitorForCurrentThread();
};

// The message of the error that abandons a cancelled check.
inline constexpr const char* kStopMessage = "STOP";

inline bool isStop(const Error& error) {
    return error.message() == kStopMessage;
}

}  // namespace perchlight
