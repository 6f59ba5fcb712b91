#include "prefs/PrivacyLevel.h"

#include <array>

namespace perchlight {
namespace {

constexpr std::array<PrivacyLevelName, 5> kNames = {{
    {PrivacyLevel::kLevelLow, "low", "Low"},
    {PrivacyLevel::kLevelMedium, "medium", "Medium"},
    {PrivacyLevel::kLevelHigh, "high", "High"},
    {PrivacyLevel::kLevelCustom, "custom", "Custom"},
    {PrivacyLevel::kLevelImported, "imported", "Imported"},
}};

const PrivacyLevelName& entry(PrivacyLevel level) {
    return kNames[static_cast<std::size_t>(static_cast<std::int32_t>(level) - 1)];
}

}  // namespace

std::span<const PrivacyLevelName> privacyLevelNames() {
    return kNames;
}

std::optional<PrivacyLevel> privacyLevelNamed(std::string_view name) {
    for (const PrivacyLevelName& known : kNames) {
        if (known.name == name) {
            return known.level;
        }
    }
    return std::nullopt;
}

std::optional<PrivacyLevel> privacyLevelOfNumber(std::int32_t number) {
    if (number < static_cast<std::int32_t>(PrivacyLevel::kLevelLow) ||
        number > static_cast<std::int32_t>(PrivacyLevel::kLevelImported)) {
        return std::nullopt;
    }
    return static_cast<PrivacyLevel>(number);
}

std::string_view privacyLevelName(PrivacyLevel level) {
    return entry(level).name;
}

std::string_view privacyLevelLabel(PrivacyLevel level) {
    return entry(level).label;
}

}  // namespace perchlight
