#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace perchlight {

// Reads whole files that someone else may have written: only regular files (never a device, a
// pipe or a directory, which could block or never end) and never more than the caller's limit,
// so a hostile or damaged file costs at most that much memory.
class FileReader {
  public:
    enum class Failure { kNone, kMissing, kNotRegularFile, kTooLarge, kUnreadable };

    // The file's bytes, or nothing (and why, when failure is given) when it cannot be had whole
    // within maxBytes.
    static std::optional<std::string> read(const std::string& path, std::uintmax_t maxBytes,
                                           Failure* failure = nullptr);
    // A short English reason ("no such file", "file too large", ...).
    static std::string describe(Failure failure);
};

}  // namespace perchlight
