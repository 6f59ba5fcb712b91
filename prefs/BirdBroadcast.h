#pragma once

namespace perchlight {

// Broadcast commands by which one process tells the bird windows of the others what to reload.
inline constexpr int kBroadcastReloadSettingsAndRuleSet = 32802;
inline constexpr int kBroadcastReloadCookiePreferences = 32803;
inline constexpr int kBroadcastReloadSettings = 32804;
inline constexpr int kBroadcastReloadNoPromptSites = 32805;
// Checking was switched on or off in another process: every bird follows.
inline constexpr int kBroadcastCheckingEnabled = 32792;
inline constexpr int kBroadcastCheckingDisabled = 32793;

// Posts a command to the bird windows: of every process (allProcesses) or one window of each other
// process. The user interface provides it; without one, nothing is sent.
class BirdBroadcast {
  public:
    virtual ~BirdBroadcast() = default;
    virtual void broadcast(int command, bool allProcesses) = 0;
};

}  // namespace perchlight
