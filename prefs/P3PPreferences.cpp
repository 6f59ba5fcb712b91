#include "prefs/P3PPreferences.h"

#include <ctime>
#include <filesystem>
#include <optional>

#include "core/DocumentSource.h"
#include "core/P3PEvaluator.h"
#include "core/WildcardMatch.h"
#include "core/XmlNode.h"
#include "prefs/BirdSettings.h"
#include "prefs/PreferenceFile.h"
#include "prefs/RegistryKey.h"
#include "util/Error.h"
#include "util/FileLock.h"
#include "util/FileReader.h"

namespace perchlight {
namespace {

constexpr const char* kUnit = "P3PPreferences";
constexpr const char* kLockSuffix = ".lock";

// The settings key's values, in the order in which they are read and written.
constexpr const char* kPrivacyLevel = "Privacy Level";
constexpr const char* kEnableSounds = "Enable Sounds";
constexpr const char* kDontWarnOnForms = "Dont warn on forms";
constexpr const char* kEnabled = "Enabled";
constexpr const char* kHotkeyMod = "Hotkey Mod";
constexpr const char* kHotkeyKeys = "Hotkey Keys";
constexpr const char* kUserPreferences = "User Preferences";
constexpr const char* kOnTitlebar = "On Titlebar";
constexpr const char* kPositionX = "Position X";
constexpr const char* kPositionY = "Position Y";

constexpr std::uint32_t kDefaultSounds = kSoundUnmatchedPolicy | kSoundMatchedPolicy;
// What an unreadable shortcut value reads as.
constexpr std::uint32_t kUnreadableHotkey = 3;

}  // namespace

P3PPreferences::P3PPreferences(DataLocations locations, WorkArea workArea)
    : locations_(std::move(locations)), workArea_(workArea) {}

P3PPreferences::P3PPreferences(std::string moduleDirectory, WorkArea workArea)
    : P3PPreferences(DataLocations::inOneDirectory(std::move(moduleDirectory)), workArea) {}

std::string P3PPreferences::ruleSetFileName(PrivacyLevel level) {
    switch (level) {
        case PrivacyLevel::kLevelLow:
            return kLowRuleSetFile;
        case PrivacyLevel::kLevelMedium:
            return kMediumRuleSetFile;
        case PrivacyLevel::kLevelHigh:
            return kHighRuleSetFile;
        case PrivacyLevel::kLevelCustom:
            return kCustomRuleSetFile;
        case PrivacyLevel::kLevelImported:
            return kImportedRuleSetFile;
    }
    return {};
}

bool P3PPreferences::loadPreferences() {
    loadSettings();
    readCookiePreferences(path(kCookiePreferencesFile));
    activeRuleSetPath(true);
    loadNoPromptList(path(kNoPromptSitesFile));
    readCookieHistory();
    return true;
}

bool P3PPreferences::importedRuleSetExists() const {
    std::error_code error;
    return std::filesystem::is_regular_file(path(kImportedRuleSetFile), error);
}

bool P3PPreferences::loadSettings() {
    MonitorLock guard(lock_);
    const std::optional<RegistryKey> key = RegistryKey::open(RegistryKey::kPerchlightKey);
    if (!key) {
        values_.privacyLevel = PrivacyLevel::kLevelMedium;
        values_.sounds = kDefaultSounds;
        values_.userPreferences = 0;
        values_.upgrade = false;
        return false;
    }
    applySettings(*key);
    clampPosition();
    return true;
}

// A value the key does not hold takes the fallback of a value out of range; the last three keep
// what they were.
void P3PPreferences::applySettings(const RegistryKey& key) {
    const auto level = key.value(kPrivacyLevel);
    values_.privacyLevel = PrivacyLevel::kLevelMedium;
    const std::optional<PrivacyLevel> stored =
        level ? privacyLevelOfNumber(static_cast<std::int32_t>(*level)) : std::nullopt;
    if (stored && (*stored != PrivacyLevel::kLevelImported || importedRuleSetExists())) {
        values_.privacyLevel = *stored;
    }
    const auto sounds = key.value(kEnableSounds);
    values_.sounds = sounds && *sounds <= 15 ? *sounds : kDefaultSounds;
    const auto dontWarn = key.value(kDontWarnOnForms);
    values_.dontWarnOnForms = dontWarn && *dontWarn == 1;
    const auto enabled = key.value(kEnabled);
    BirdSettings::enabled = !(enabled && *enabled == 0);
    const auto modifier = key.value(kHotkeyMod);
    values_.hotkeyModifier = !modifier                          ? kDefaultHotkeyModifier
                             : *modifier >= 1 && *modifier <= 7 ? *modifier
                                                                : kUnreadableHotkey;
    const auto hotkey = key.value(kHotkeyKeys);
    values_.hotkeyKey = !hotkey ? kDefaultHotkeyKey : *hotkey >= 1 ? *hotkey : kUnreadableHotkey;
    values_.userPreferences = key.value(kUserPreferences).value_or(0);
    if (const auto onTitleBar = key.value(kOnTitlebar)) {
        BirdSettings::onTitleBar = *onTitleBar != 0;
    }
    if (const auto x = key.value(kPositionX)) {
        BirdSettings::positionX = static_cast<std::int32_t>(*x);
    }
    if (const auto y = key.value(kPositionY)) {
        BirdSettings::positionY = static_cast<std::int32_t>(*y);
    }
}

void P3PPreferences::clampPosition() {
    std::int32_t x = BirdSettings::positionX;
    std::int32_t y = BirdSettings::positionY;
    if (x < workArea_.left) {
        x = workArea_.left;
    }
    if (x > workArea_.right) {
        x = workArea_.right - 50;
    }
    if (y < workArea_.top) {
        y = workArea_.top;
    }
    if (y > workArea_.bottom) {
        y = workArea_.bottom - 10;
    }
    BirdSettings::positionX = x;
    BirdSettings::positionY = y;
}

bool P3PPreferences::saveSettings() {
    MonitorLock guard(lock_);
    std::optional<RegistryKey> key = RegistryKey::open(RegistryKey::kPerchlightKey);
    if (!key) {
        PERCHLIGHT_RAISE("Unable to access registry key", kUnit);
    }
    key->setValue(kPrivacyLevel, static_cast<std::uint32_t>(values_.privacyLevel));
    key->setValue(kEnableSounds, values_.sounds);
    key->setValue(kDontWarnOnForms, values_.dontWarnOnForms ? 1 : 0);
    key->setValue(kEnabled, BirdSettings::enabled ? 1 : 0);
    key->setValue(kHotkeyMod, values_.hotkeyModifier);
    key->setValue(kHotkeyKeys, values_.hotkeyKey);
    key->setValue(kUserPreferences, values_.userPreferences);
    key->setValue(kOnTitlebar, BirdSettings::onTitleBar ? 1 : 0);
    key->setValue(kPositionX, static_cast<std::uint32_t>(BirdSettings::positionX.load()));
    key->setValue(kPositionY, static_cast<std::uint32_t>(BirdSettings::positionY.load()));
    if (!key->save()) {
        PERCHLIGHT_RAISE("Unable to access registry key", kUnit);
    }
    return true;
}

std::string P3PPreferences::activeRuleSetPath(bool refreshCustomSettings) {
    MonitorLock guard(lock_);
    const std::string rulesPath = locations_.ruleSetFile(ruleSetFileName(values_.privacyLevel));
    if (refreshCustomSettings) {
        values_.customSettings.reset();
        if (values_.privacyLevel != PrivacyLevel::kLevelImported) {
            values_.customSettings = CustomRuleSet::read(rulesPath);
        }
    }
    return rulesPath;
}

bool P3PPreferences::readActiveRuleSet(std::string& ruleSet) {
    MonitorLock guard(lock_);
    const std::string rulesPath = activeRuleSetPath(false);
    if (rulesPath.empty()) {
        return false;
    }
    std::optional<std::string> bytes = FileReader::read(rulesPath, XmlNode::kMaxFileSize);
    if (!bytes) {
        return false;
    }
    ruleSet = std::move(*bytes);
    return true;
}

void P3PPreferences::setDontWarnOnForms(bool value) {
    BirdBroadcast* broadcast = nullptr;
    {
        MonitorLock guard(lock_);
        values_.dontWarnOnForms = value;
        saveSettings();
        broadcast = broadcast_;
    }
    // Posted after the lock is released: the receiver may well want the store.
    if (broadcast != nullptr) {
        broadcast->broadcast(kBroadcastReloadSettings, false);
    }
}

bool P3PPreferences::dontWarnOnForms() const {
    MonitorLock guard(lock_);
    return values_.dontWarnOnForms;
}

PreferenceValues P3PPreferences::snapshot() const {
    MonitorLock guard(lock_);
    return values_;
}

void P3PPreferences::restore(const PreferenceValues& values) {
    MonitorLock guard(lock_);
    values_ = values;
}

PrivacyLevel P3PPreferences::privacyLevel() const {
    MonitorLock guard(lock_);
    return values_.privacyLevel;
}

void P3PPreferences::setPrivacyLevel(PrivacyLevel level) {
    MonitorLock guard(lock_);
    values_.privacyLevel = level;
}

CustomSettings P3PPreferences::customSettings() const {
    MonitorLock guard(lock_);
    return values_.customSettings;
}

void P3PPreferences::setCustomSettings(const CustomSettings& settings) {
    MonitorLock guard(lock_);
    values_.customSettings = settings;
}

void P3PPreferences::writeCustomRuleSet(const std::string& rulesPath) {
    MonitorLock guard(lock_);
    CustomRuleSet::write(rulesPath, values_.customSettings,
                         CustomRuleSet::creationTime(std::time(nullptr)));
}

void P3PPreferences::readCustomSettings(const std::string& rulesPath) {
    MonitorLock guard(lock_);
    values_.customSettings = CustomRuleSet::read(rulesPath);
}

void P3PPreferences::readCookiePreferences(const std::string& cookiesPath) {
    MonitorLock guard(lock_);
    CookiePreferences next = values_.cookies;
    if (!next.read(cookiesPath)) {
        return;
    }
    for (const auto& [site, value] : values_.cookies.siteOverrides) {
        if (value == kOverrideThisSession) {
            next.siteOverrides.emplace(site, value);  // a choice in the file is the newer one
        }
    }
    values_.cookies = std::move(next);
}

void P3PPreferences::writeCookiePreferences(const std::string& cookiesPath) {
    MonitorLock guard(lock_);
    values_.cookies.write(cookiesPath);
}

CookiePreferences P3PPreferences::cookiePreferences() const {
    MonitorLock guard(lock_);
    return values_.cookies;
}

void P3PPreferences::setCookiePreferences(const CookiePreferences& cookies) {
    MonitorLock guard(lock_);
    values_.cookies = cookies;
}

bool P3PPreferences::decideCookie(const std::string& firstSite, const std::string& cookieSite,
                                  const CookieRequest& request, const std::string& pageUrl,
                                  CookieRecordSink* sink) {
    const std::string site = cookieSite.empty() ? firstSite : cookieSite;
    const Decision decision = decide(site, request, pageUrl);
    // The page's list has its own lock, never taken while the preferences lock is held.
    if (sink != nullptr) {
        sink->appendCookieRecord({request, site, decision.blocked, decision.undetermined,
                                  !cookieSite.empty() && cookieSite != firstSite});
    }
    recordCookieSite(firstSite, cookieSite);
    return decision.blocked;
}

bool P3PPreferences::queryCookie(const std::string& firstSite, const std::string& cookieSite,
                                 const CookieRequest& request, const std::string& pageUrl) {
    return decide(cookieSite.empty() ? firstSite : cookieSite, request, pageUrl).blocked;
}

P3PPreferences::Decision P3PPreferences::decide(const std::string& site,
                                                const CookieRequest& request,
                                                const std::string& pageUrl) {
    std::int32_t choice = kCookieRuleMatching;
    {
        MonitorLock guard(lock_);
        const CookiePreferences& cookies = values_.cookies;
        if (const auto found = cookies.siteOverrides.find(site);
            found != cookies.siteOverrides.end()) {
            return {found->second == kOverrideNeverAllow, false};
        }
        switch (cookies.setting) {
            case kCookiesAlways:
                return {false, false};
            case kCookiesNever:
                return {true, false};
            case kCookiesCustom: {
                std::string host;
                try {
                    host = Url(pageUrl).host();
                } catch (const Error&) {
                    // not a URL: no first party
                }
                const bool firstParty = !host.empty() && wildcardMatch("*." + site, host);
                choice = firstParty ? cookies.customAccept : cookies.customCrossSite;
                break;
            }
            default:
                break;
        }
    }
    if (choice == kCookieRuleAll) {
        return {false, false};
    }
    if (choice == kCookieRuleNone) {
        return {true, false};
    }
    return decideByPolicy(site, request);
}

P3PPreferences::Decision P3PPreferences::decideByPolicy(const std::string& site,
                                                        const CookieRequest& request) {
    const int conflicts = cookiePolicyCheck(request.name, request.value, site, request.path);
    if (conflicts == -1) {
        return {false, true};
    }
    return {conflicts != 0, false};
}

int P3PPreferences::cookiePolicyCheck(const std::string& name, const std::string& value,
                                      const std::string& site, const std::string& cookiePath) {
    CookiePolicyLookup lookup;
    DocumentSource* documents = nullptr;
    const P3PEvaluator* evaluator = nullptr;
    {
        MonitorLock guard(lock_);
        lookup = cookiePolicyLookup_;
        documents = documents_;
        evaluator = evaluator_;
    }
    if (!lookup || documents == nullptr || evaluator == nullptr) {
        return -1;
    }
    const std::string policy = lookup(name, value, site, cookiePath);
    if (policy.empty()) {
        return -1;
    }
    Url policyUrl;
    try {
        policyUrl = Url(policy);
    } catch (const Error&) {
        return -1;  // an address no document can be had from
    }
    const Url documentUrl = policyUrl.withoutFragment();
    const std::optional<std::string> document = documents->getDocument(documentUrl.str());
    if (!document) {
        return -1;
    }
    std::string ruleSet;
    if (!readActiveRuleSet(ruleSet)) {
        return -2;
    }
    MatchResult result;
    try {
        const EvaluationCode code = evaluator->evaluatePolicy(ruleSet, *document, documentUrl,
                                                              policyUrl.fragment(), result);
        if (code != EvaluationCode::kEvaluated) {
            return -2;
        }
    } catch (const Error&) {
        return -2;  // a policy or rule set that is not well-formed cannot be evaluated
    }
    return static_cast<int>(result.descriptions.size());
}

void P3PPreferences::setCookiePolicySource(CookiePolicyLookup lookup, DocumentSource* documents,
                                           const P3PEvaluator* evaluator) {
    MonitorLock guard(lock_);
    cookiePolicyLookup_ = std::move(lookup);
    documents_ = documents;
    evaluator_ = evaluator;
}

void P3PPreferences::recordCookieSite(const std::string& firstSite, const std::string& cookieSite) {
    MonitorLock guard(lock_);
    values_.cookieHistory.record(firstSite, cookieSite);
}

void P3PPreferences::readCookieHistory() {
    MonitorLock guard(lock_);
    values_.cookieHistory.mergeFile(path(kCookieHistoryFile));
}

void P3PPreferences::writeCookieHistory() {
    MonitorLock guard(lock_);
    const std::string historyPath = path(kCookieHistoryFile);
    const FileLock fileLock(historyPath + kLockSuffix);
    values_.cookieHistory.mergeFile(historyPath);
    values_.cookieHistory.writeFile(historyPath);
}

CookieHistory P3PPreferences::cookieHistory() const {
    MonitorLock guard(lock_);
    return values_.cookieHistory;
}

bool P3PPreferences::isNoPrompt(const Url& site) const {
    MonitorLock guard(lock_);
    return values_.noPromptSites.contains(site);
}

void P3PPreferences::addNoPrompt(const Url& site, bool flag) {
    MonitorLock guard(lock_);
    values_.noPromptSites.add(site, flag);
    values_.noPromptSites.write(path(kNoPromptSitesFile));
}

void P3PPreferences::setNoPromptList(const std::vector<Url>& sites) {
    MonitorLock guard(lock_);
    values_.noPromptSites.assign(sites);
    values_.noPromptSites.write(path(kNoPromptSitesFile));
}

void P3PPreferences::loadNoPromptList(const std::string& listPath) {
    MonitorLock guard(lock_);
    values_.noPromptSites.read(listPath);
}

std::vector<Url> P3PPreferences::noPromptList() const {
    MonitorLock guard(lock_);
    std::vector<Url> sites;
    for (const auto& [site, flag] : values_.noPromptSites.sites()) {
        sites.push_back(site);
    }
    return sites;
}

void P3PPreferences::setBroadcast(BirdBroadcast* broadcast) {
    MonitorLock guard(lock_);
    broadcast_ = broadcast;
}

void P3PPreferences::setWorkArea(const WorkArea& workArea) {
    MonitorLock guard(lock_);
    workArea_ = workArea;
}

}  // namespace perchlight
