#include "prefs/BirdSettings.h"

namespace perchlight {

std::atomic<bool> BirdSettings::enabled{true};
std::atomic<bool> BirdSettings::onTitleBar{true};
std::atomic<std::int32_t> BirdSettings::positionX{50};
std::atomic<std::int32_t> BirdSettings::positionY{50};

void BirdSettings::reset() {
    enabled = true;
    onTitleBar = true;
    positionX = 50;
    positionY = 50;
}

}  // namespace perchlight
