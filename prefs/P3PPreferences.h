#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "prefs/BirdBroadcast.h"
#include "prefs/CookieHistory.h"
#include "prefs/CookiePreferences.h"
#include "prefs/CookieRecord.h"
#include "prefs/CustomRuleSet.h"
#include "prefs/NoPromptSites.h"
#include "prefs/PrivacyLevel.h"
#include "prefs/WorkArea.h"
#include "util/DataLocations.h"
#include "util/Monitor.h"
#include "util/Url.h"

namespace perchlight {

class DocumentSource;
class P3PEvaluator;

// Bits of "Enable Sounds": the verdicts whose sound plays, and whether also for cached policies.
inline constexpr std::uint32_t kSoundUnknownPolicy = 1;
inline constexpr std::uint32_t kSoundUnmatchedPolicy = 2;
inline constexpr std::uint32_t kSoundMatchedPolicy = 4;
inline constexpr std::uint32_t kSoundFromCache = 8;
// The shortcut that opens the bird menu where none is stored: CTRL+SHIFT+F10. The X keymap takes
// CTRL+ALT with a function key for switching virtual terminals, so that combination never reaches
// the browser.
inline constexpr std::uint32_t kDefaultHotkeyModifier = 5;  // CTRL+SHIFT
inline constexpr std::uint32_t kDefaultHotkeyKey = 121;     // F10
// Bits of "User Preferences".
inline constexpr std::uint32_t kUserPreferenceNoAnimation = 1;
inline constexpr std::uint32_t kUserPreferenceBlockPopups = 2;

// Everything the preference store holds, as one copyable value (the settings dialog keeps one to
// undo its changes).
struct PreferenceValues {
    PrivacyLevel privacyLevel = PrivacyLevel::kLevelMedium;
    CustomSettings customSettings;
    CookiePreferences cookies;
    bool upgrade = false;  // not persisted
    std::uint32_t userPreferences = 0;
    std::uint32_t sounds = kSoundUnmatchedPolicy | kSoundMatchedPolicy;
    std::uint32_t hotkeyModifier = kDefaultHotkeyModifier;
    std::uint32_t hotkeyKey = kDefaultHotkeyKey;
    CookieHistory cookieHistory;
    NoPromptSites noPromptSites;
    bool dontWarnOnForms = false;
};

// Finds the policy that covers a cookie: its URL, "#name" included, or empty when none does.
using CookiePolicyLookup =
    std::function<std::string(const std::string& name, const std::string& value,
                              const std::string& domain, const std::string& path)>;

// The process-wide store of the user's choices: privacy level and custom settings, cookie rules,
// overrides and history, no-prompt sites, and the user-interface settings kept in the settings
// key. Its files lie where DataLocations says: the user's own in the user's directory, the
// installed rule sets among the shipped files. Thread-safe: one re-entrant lock, the preferences
// lock, guards the store, its files and its settings key; the four bird settings live outside it
// (BirdSettings).
class P3PPreferences {
  public:
    static constexpr const char* kLowRuleSetFile = "/appel-low.xml";
    static constexpr const char* kMediumRuleSetFile = "/appel-medium.xml";
    static constexpr const char* kHighRuleSetFile = "/appel-high.xml";
    static constexpr const char* kCustomRuleSetFile = "/p3ppreferences.xml";
    static constexpr const char* kImportedRuleSetFile = "/appel-imported.xml";
    static constexpr const char* kCookiePreferencesFile = "/p3pcookiepreferences.xml";
    static constexpr const char* kCookieHistoryFile = "/CookieHistory.xml";
    static constexpr const char* kNoPromptSitesFile = "/NoPromptSites.p3p";

    // An empty store over the given locations; tests and tools make their own.
    explicit P3PPreferences(DataLocations locations, WorkArea workArea = {});
    // An empty store over one directory that holds every file.
    explicit P3PPreferences(std::string moduleDirectory, WorkArea workArea = {});
    P3PPreferences(const P3PPreferences&) = delete;
    P3PPreferences& operator=(const P3PPreferences&) = delete;

    const DataLocations& locations() const { return locations_; }
    // The file name of a level's rule set ("/appel-low.xml").
    static std::string ruleSetFileName(PrivacyLevel level);

    // Fills the store: settings, cookie preferences, custom settings of the active rule set,
    // no-prompt sites, cookie history. Returns true.
    bool loadPreferences();
    // Reads the settings key; false (and the fallbacks) when the key is missing.
    bool loadSettings();
    // Writes the settings key; raises "Unable to access registry key" (unit P3PPreferences).
    bool saveSettings();
    // The active rule set's path; with refresh, the custom settings are rebuilt from that file.
    std::string activeRuleSetPath(bool refreshCustomSettings);
    // Reads the whole active rule set; false when it cannot be read.
    bool readActiveRuleSet(std::string& ruleSet);
    // Stores the flag, saves the settings and tells the other processes.
    void setDontWarnOnForms(bool value);
    bool dontWarnOnForms() const;

    // A copy of everything the store holds, and its wholesale replacement.
    PreferenceValues snapshot() const;
    void restore(const PreferenceValues& values);
    PrivacyLevel privacyLevel() const;
    void setPrivacyLevel(PrivacyLevel level);
    CustomSettings customSettings() const;
    void setCustomSettings(const CustomSettings& settings);

    // Writes the custom rule set of the current settings to path; raises the writer's errors.
    void writeCustomRuleSet(const std::string& path);
    // Sets the custom settings to those the rule set at path expresses.
    void readCustomSettings(const std::string& path);

    // Re-reads the cookie preference file; the overrides of this session only, which the file never
    // holds, stay unless the file now names their site. A file that cannot be read as a whole
    // changes nothing.
    void readCookiePreferences(const std::string& path);
    // Raises the writer's errors.
    void writeCookiePreferences(const std::string& path);
    CookiePreferences cookiePreferences() const;
    void setCookiePreferences(const CookiePreferences& cookies);
    // Decides a cookie that a response sets, records it to sink (when given) and in the cookie
    // history; true when the cookie is blocked.
    bool decideCookie(const std::string& firstSite, const std::string& cookieSite,
                      const CookieRequest& request, const std::string& pageUrl,
                      CookieRecordSink* sink = nullptr);
    // The same decision for a cookie that a request is about to send, recording nothing.
    bool queryCookie(const std::string& firstSite, const std::string& cookieSite,
                     const CookieRequest& request, const std::string& pageUrl);
    // The number of rules that the policy covering the cookie breaks; -1 when it has no policy
    // that can be had, -2 when the rule set or the policy cannot be evaluated.
    int cookiePolicyCheck(const std::string& name, const std::string& value,
                          const std::string& site, const std::string& path);
    // Where the cookie policy check finds policies (lookup, documents) and how it evaluates them;
    // unset means that no cookie has a policy. Both must outlive their use.
    void setCookiePolicySource(CookiePolicyLookup lookup, DocumentSource* documents,
                               const P3PEvaluator* evaluator);

    void recordCookieSite(const std::string& firstSite, const std::string& cookieSite);
    // Merges the history file into the store.
    void readCookieHistory();
    // Merges the history file, then writes the whole history, holding the file's lock throughout
    // so that no other process's entries are lost; raises the writer's errors or "Unable to lock
    // file".
    void writeCookieHistory();
    CookieHistory cookieHistory() const;

    bool isNoPrompt(const Url& site) const;
    // Adds a site and saves the list (a list that cannot be saved stays changed in memory).
    void addNoPrompt(const Url& site, bool flag);
    // Replaces the list with these sites and saves it.
    void setNoPromptList(const std::vector<Url>& sites);
    // Replaces the list with the file's sites.
    void loadNoPromptList(const std::string& path);
    std::vector<Url> noPromptList() const;

    // The bird broadcast of the user interface; none means nothing is sent.
    void setBroadcast(BirdBroadcast* broadcast);
    void setWorkArea(const WorkArea& workArea);
    // The preferences lock, for callers that combine several operations into one.
    Monitor& lock() const { return lock_; }

  private:
    struct Decision {
        bool blocked = false;
        bool undetermined = false;
    };
    Decision decide(const std::string& site, const CookieRequest& request,
                    const std::string& pageUrl);
    Decision decideByPolicy(const std::string& site, const CookieRequest& request);
    void applySettings(const class RegistryKey& key);
    void clampPosition();
    bool importedRuleSetExists() const;
    std::string path(const char* fileName) const { return locations_.userFile(fileName); }

    const DataLocations locations_;
    mutable Monitor lock_;
    WorkArea workArea_;
    PreferenceValues values_;
    BirdBroadcast* broadcast_ = nullptr;
    CookiePolicyLookup cookiePolicyLookup_;
    DocumentSource* documents_ = nullptr;
    const P3PEvaluator* evaluator_ = nullptr;
};

}  // namespace perchlight
