#include "cli/PreferencesCommand.h"

#include <CLI/CLI.hpp>

#include <filesystem>
#include <ostream>

#include "browser/AgentServices.h"
#include "cli/ExitStatus.h"
#include "prefs/BirdSettings.h"
#include "prefs/P3PPreferences.h"
#include "prefs/RegistryKey.h"
#include "prefs/RuleSetTransfer.h"
#include "util/Error.h"

namespace perchlight::cli {
namespace {

std::string levelLabel(PrivacyLevel level) {
    return std::string(privacyLevelLabel(level));
}

std::string yesNo(bool value) {
    return value ? "yes" : "no";
}

std::string bitWords(std::uint32_t bits,
                     const std::vector<std::pair<std::uint32_t, const char*>>& words) {
    std::string text;
    for (const auto& [bit, word] : words) {
        if (bits & bit) {
            text += (text.empty() ? "" : ", ") + std::string(word);
        }
    }
    return std::to_string(bits) + (text.empty() ? "" : " (" + text + ")");
}

std::string customWords(const CustomSettings& settings) {
    std::string text;
    for (int i = 0; i < kCustomSettingCount; ++i) {
        if (settings[i]) {
            text += (text.empty() ? "" : ", ") +
                    std::string(CustomRuleSet::settingName(static_cast<CustomSetting>(i)));
        }
    }
    return text.empty() ? "none" : text;
}

std::string cookieWords(const CookiePreferences& cookies) {
    switch (cookies.setting) {
        case kCookiesAlways:
            return "always allow";
        case kCookiesNever:
            return "never allow";
        case kCookiesCustom:
            return std::string("custom (own sites ") +
                   CookiePreferences::ruleValueText(cookies.customAccept) + ", cross-site " +
                   CookiePreferences::ruleValueText(cookies.customCrossSite) + ")";
        default:
            return "allow when the policy matches";
    }
}

bool importedRuleSetExists(const P3PPreferences& preferences) {
    std::error_code error;
    return std::filesystem::is_regular_file(
        preferences.locations().userFile(P3PPreferences::kImportedRuleSetFile), error);
}

// Saves the level and, below the Imported level, the custom rule set that goes with it.
void saveLevel(P3PPreferences& preferences) {
    preferences.saveSettings();
    if (preferences.privacyLevel() != PrivacyLevel::kLevelImported) {
        preferences.writeCustomRuleSet(
            preferences.locations().userFile(P3PPreferences::kCustomRuleSetFile));
    }
}

}  // namespace

PreferencesCommand::PreferencesCommand(CLI::App& app)
    : settings_(app.add_subcommand("settings", "Print the privacy level and the other settings")),
      level_(app.add_subcommand("level", "Select the privacy level and save it")),
      custom_(app.add_subcommand("custom", "Set the custom warnings and select the custom level")),
      import_(app.add_subcommand("import", "Import an APPEL rule set as the Imported level")),
      export_(app.add_subcommand("export", "Export the active preferences as an APPEL rule set")) {
    std::vector<std::string> levelNames;
    for (const PrivacyLevelName& known : privacyLevelNames()) {
        levelNames.emplace_back(known.name);
    }
    level_->add_option("level", levelName_, "low, medium, high, custom or imported")
        ->required()
        ->check(CLI::IsMember(levelNames));
    std::vector<std::string> settingNames;
    for (int i = 0; i < kCustomSettingCount; ++i) {
        settingNames.emplace_back(CustomRuleSet::settingName(static_cast<CustomSetting>(i)));
    }
    custom_->add_option("--set", customNames_, "The warnings to give, comma-separated")
        ->delimiter(',')
        ->check(CLI::IsMember(settingNames));
    import_->add_option("file", importPath_, "APPEL rule set file")->required();
    export_->add_option("file", exportPath_, "File to write")->required();
}

bool PreferencesCommand::selected() const {
    return settings_->parsed() || level_->parsed() || custom_->parsed() || import_->parsed() ||
           export_->parsed();
}

int PreferencesCommand::run(AgentServices& services, std::ostream& out, std::ostream& err) const {
    P3PPreferences& preferences = services.preferences();
    preferences.loadPreferences();
    try {
        if (settings_->parsed()) {
            return printSettings(preferences, out);
        }
        if (level_->parsed()) {
            return selectLevel(preferences, out, err);
        }
        if (custom_->parsed()) {
            return setCustom(preferences, out, err);
        }
        if (import_->parsed()) {
            return importRuleSet(preferences, out, err);
        }
        return exportRuleSet(preferences, out, err);
    } catch (const Error& error) {
        err << "perchlight: " << error.message() << "\n";
        if (error.message() == "Unable to access registry key") {
            err << "perchlight: create the settings key with `perchlight register`\n";
        }
    }
    return kExitFailed;
}

int PreferencesCommand::printSettings(P3PPreferences& preferences, std::ostream& out) const {
    const PreferenceValues values = preferences.snapshot();
    const std::string keyPath = RegistryKey::filePath(RegistryKey::kPerchlightKey);
    const bool keyPresent = RegistryKey::open(RegistryKey::kPerchlightKey).has_value();
    out << "settings key:       " << keyPath << (keyPresent ? "" : " (missing)") << "\n"
        << "shipped files:      " << preferences.locations().shippedDirectory() << "\n"
        << "user files:         " << preferences.locations().userDirectory() << "\n"
        << "privacy level:      " << static_cast<std::int32_t>(values.privacyLevel) << " ("
        << levelLabel(values.privacyLevel) << ")\n"
        << "rule set:           " << preferences.activeRuleSetPath(false) << "\n"
        << "custom warnings:    " << customWords(values.customSettings) << "\n"
        << "sounds:             "
        << bitWords(values.sounds, {{kSoundUnknownPolicy, "unknown policy"},
                                    {kSoundUnmatchedPolicy, "unmatched policy"},
                                    {kSoundMatchedPolicy, "matched policy"},
                                    {kSoundFromCache, "cached policies too"}})
        << "\n"
        << "dont warn on forms: " << yesNo(values.dontWarnOnForms) << "\n"
        << "enabled:            " << yesNo(BirdSettings::enabled) << "\n"
        << "hotkey:             modifier " << values.hotkeyModifier << ", key " << values.hotkeyKey
        << "\n"
        << "user preferences:   "
        << bitWords(values.userPreferences, {{kUserPreferenceNoAnimation, "no animation"},
                                             {kUserPreferenceBlockPopups, "block pop-ups"}})
        << "\n"
        << "on title bar:       " << yesNo(BirdSettings::onTitleBar) << "\n"
        << "position:           " << BirdSettings::positionX << ", " << BirdSettings::positionY
        << "\n"
        << "cookies:            " << cookieWords(values.cookies) << "\n"
        << "cookie overrides:   " << values.cookies.siteOverrides.size() << "\n"
        << "no-prompt sites:    " << values.noPromptSites.sites().size() << "\n"
        << "cookie history:     " << values.cookieHistory.sites().size() << " sites\n";
    return 0;
}

int PreferencesCommand::selectLevel(P3PPreferences& preferences, std::ostream& out,
                                    std::ostream& err) const {
    const PrivacyLevel level = privacyLevelNamed(levelName_).value_or(PrivacyLevel::kLevelMedium);
    if (level == PrivacyLevel::kLevelImported && !importedRuleSetExists(preferences)) {
        err << "perchlight: no imported rule set; import one with `perchlight import FILE`\n";
        return kExitFailed;
    }
    const PrivacyLevel previous = preferences.privacyLevel();
    preferences.setPrivacyLevel(level);
    preferences.activeRuleSetPath(true);
    if (level == previous && level != PrivacyLevel::kLevelCustom) {
        out << "privacy level already " << levelLabel(level) << "; nothing saved\n";
        return 0;
    }
    saveLevel(preferences);
    out << "privacy level: " << levelLabel(level) << "\n";
    return 0;
}

int PreferencesCommand::setCustom(P3PPreferences& preferences, std::ostream& out,
                                  std::ostream&) const {
    CustomSettings settings;
    for (const std::string& name : customNames_) {
        settings[*CustomRuleSet::settingNamed(name)] = true;
    }
    preferences.setCustomSettings(settings);
    preferences.setPrivacyLevel(PrivacyLevel::kLevelCustom);
    saveLevel(preferences);
    out << "privacy level: Custom\ncustom warnings: " << customWords(settings) << "\n";
    return 0;
}

int PreferencesCommand::importRuleSet(P3PPreferences& preferences, std::ostream& out,
                                      std::ostream& err) const {
    bool blockRule = false;
    if (!RuleSetTransfer::validateImportedRuleSet(importPath_, blockRule)) {
        err << "perchlight: Invalid Appel File\n";
        return kExitFailed;
    }
    if (blockRule) {
        err << "Warning: " << RuleSetTransfer::kBlockRuleWarning << "\n";
    }
    const std::string& directory = preferences.locations().userDirectory();
    if (!RuleSetTransfer::stageImport(importPath_, directory)) {
        err << "perchlight: Failed to create Import file\n";
        return kExitFailed;
    }
    preferences.setPrivacyLevel(PrivacyLevel::kLevelImported);
    preferences.activeRuleSetPath(true);
    if (!RuleSetTransfer::installStagedImport(directory)) {
        RuleSetTransfer::discardStagedImport(directory);
        err << "perchlight: Failed to create import file\n";
        preferences.saveSettings();  // as the settings dialog does
        return kExitFailed;
    }
    preferences.saveSettings();
    out << "privacy level: Imported (" << directory << P3PPreferences::kImportedRuleSetFile
        << ")\n";
    return 0;
}

int PreferencesCommand::exportRuleSet(P3PPreferences& preferences, std::ostream& out,
                                      std::ostream& err) const {
    if (preferences.privacyLevel() == PrivacyLevel::kLevelImported) {
        if (!RuleSetTransfer::exportImported(preferences.locations().userDirectory(),
                                             exportPath_)) {
            err << "perchlight: Failed to create Export file\n";
            return kExitFailed;
        }
    } else {
        preferences.writeCustomRuleSet(exportPath_);
    }
    out << "exported: " << exportPath_ << "\n";
    return 0;
}

}  // namespace perchlight::cli
