#include "util/Error.h"

#include <utility>

namespace perchlight {

Error::Error(std::string message, std::string unit, int line)
    : std::runtime_error(message),
      message_(std::move(message)),
      unit_(std::move(unit)),
      line_(line) {}

}  // namespace perchlight
