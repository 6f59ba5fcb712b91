#pragma once

#include <stdexcept>
#include <string>

namespace perchlight {

// The one exception type of the core: a fixed English message, the unit that raised it and the
// source line. Callers show the message; unit and line are for diagnostics.
class Error : public std::runtime_error {
  public:
    Error(std::string message, std::string unit, int line);

    const std::string& message() const { return message_; }
    const std::string& unit() const { return unit_; }
    int line() const { return line_; }

  private:
    std::string message_;
    std::string unit_;
    int line_;
};

// Raises an Error for the given unit at the current source line.
#define PERCHLIGHT_RAISE(message, unit) throw ::perchlight::Error((message), (unit), __LINE__)

}  // namespace perchlight
