#pragma once

#include <cstdint>

namespace perchlight {

// The work area of the primary display (the desktop without the task bar) in screen pixels, to
// which the bird's position is clamped. Without a screen it is a fixed 1920 x 1080 area.
struct WorkArea {
    std::int32_t left = 0;
    std::int32_t top = 0;
    std::int32_t right = 1920;
    std::int32_t bottom = 1080;
};

}  // namespace perchlight
