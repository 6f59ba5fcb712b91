#pragma once

#include <array>

#include "prefs/BirdBroadcast.h"

namespace perchlight {

// Commands of the bird menu; each menu item carries its number as its object name.
inline constexpr int kCommandDisable = 32780;
inline constexpr int kCommandEnable = 32791;
inline constexpr int kCommandMoveBird = 32806;
inline constexpr int kCommandReturnToTitleBar = 32808;
inline constexpr int kCommandPolicySummary = 32787;
inline constexpr int kCommandFullPolicy = 32788;
inline constexpr int kCommandOptOutInfo = 32790;
inline constexpr int kCommandEmbeddedContent = 32798;
inline constexpr int kCommandViewSource = 32797;
inline constexpr int kCommandPrivacy = 32783;
inline constexpr int kCommandNoPromptSites = 32799;
inline constexpr int kCommandOther = 32785;
inline constexpr int kCommandClearCache = 32801;
inline constexpr int kCommandHelp = 32794;
inline constexpr int kCommandTour = 32795;
inline constexpr int kCommandAbout = 32796;
inline constexpr int kCommandCookieReport = 32800;
inline constexpr int kCommandOverrideCookies = 32789;
inline constexpr int kCommandCookies = 32784;
inline constexpr int kCommandCookieOverrideSites = 374;
inline constexpr int kCommandCookieHistory = 32782;

// Broadcast commands that the bird windows carry out themselves; the reload commands and the
// checking switch are those of prefs/BirdBroadcast.h.
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
