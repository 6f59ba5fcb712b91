#pragma once

#include <cstdint>

namespace perchlight {

// Sets the counter that the next uniqueTempName advances from; for tests of its wrap-around.
void setTempNameCounterForTesting(std::uint16_t counter);

}  // namespace perchlight
