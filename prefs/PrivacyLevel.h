#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace perchlight {

// The privacy level, which selects the active rule set. Stored as its number.
enum class PrivacyLevel : std::int32_t {
    kLevelLow = 1,
    kLevelMedium = 2,
    kLevelHigh = 3,
    kLevelCustom = 4,
    kLevelImported = 5,
};

// How a level is named on the command line ("low") and shown to the user ("Low").
struct PrivacyLevelName {
    PrivacyLevel level;
    std::string_view name;
    std::string_view label;
};

// Every level, lowest first.
std::span<const PrivacyLevelName> privacyLevelNames();
// The level of a command-line name, or none.
std::optional<PrivacyLevel> privacyLevelNamed(std::string_view name);
// The level of a stored number, or none outside 1 to 5.
std::optional<PrivacyLevel> privacyLevelOfNumber(std::int32_t number);
std::string_view privacyLevelName(PrivacyLevel level);
std::string_view privacyLevelLabel(PrivacyLevel level);

}  // namespace perchlight
