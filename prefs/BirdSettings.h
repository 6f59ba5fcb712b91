#pragma once

#include <atomic>
#include <cstdint>

namespace perchlight {

// The four settings that every bird window of the process reads directly, without the
// preferences lock; loadSettings fills them. Thread-safe (atomic values).
struct BirdSettings {
    static std::atomic<bool> enabled;
    static std::atomic<bool> onTitleBar;
    static std::atomic<std::int32_t> positionX;
    static std::atomic<std::int32_t> positionY;

    // Back to the values at process start: enabled, on the title bar, at (50, 50).
    static void reset();
};

}  // namespace perchlight
