#pragma once

#include <array>

#include "prefs/BirdBroadcast.h"

namespace perchlight {

// Commands of the bird menu; each menu item carries its number as its object name.
inline constexpr int kCommandDisable = 32780;
inline constexpr int kCommandEnable = 32791;
inline constexpr int kCommandMoveBird = 32806;
inline constexpr int kCommandReturnToTitleBar = 32808;

// Broadcast commands that the bird windows carry out themselves; the reload commands are those of
// prefs/BirdBroadcast.h.
inline constexpr int kBroadcastCheckingEnabled = 32792;
inline constexpr int kBroadcastCheckingDisabled = 32793;
inline constexpr int kBroadcastReloadSettingsAndPlace = 32807;

// Every command that may travel between processes; anything else that arrives is ignored.
inline constexpr std::array<int, 7> kBroadcastCommands = {
    kBroadcastCheckingEnabled,          kBroadcastCheckingDisabled,
    kBroadcastReloadSettingsAndRuleSet, kBroadcastReloadCookiePreferences,
    kBroadcastReloadSettings,           kBroadcastReloadNoPromptSites,
    kBroadcastReloadSettingsAndPlace};

constexpr bool isBroadcastCommand(int command) {
    for (const int known : kBroadcastCommands) {
        if (known == command) {
            return true;
        }
    }
    return false;
}

}  // namespace perchlight
