#include "cli/RuleSetOptions.h"

#include <CLI/CLI.hpp>

#include <filesystem>
#include <optional>
#include <vector>

#include "browser/AgentServices.h"
#include "core/XmlNode.h"
#include "prefs/P3PPreferences.h"
#include "prefs/PrivacyLevel.h"
#include "util/Error.h"
#include "util/FileReader.h"

namespace perchlight::cli {

void RuleSetOptions::addTo(CLI::App& command) {
    std::vector<std::string> names;
    for (const PrivacyLevelName& known : privacyLevelNames()) {
        names.emplace_back(known.name);
    }
    auto* level =
        command
            .add_option("--level", level_,
                        "Privacy level: low, medium, high, custom, imported (default: the stored "
                        "level, else medium)")
            ->check(CLI::IsMember(names));
    command.add_option("--rules", ruleSetPath_, "APPEL rule set file to use instead")
        ->excludes(level);
}

std::optional<ChosenRuleSet> RuleSetOptions::apply(AgentServices& services,
                                                   std::string& error) const {
    P3PPreferences& preferences = services.preferences();
    if (ruleSetPath_.empty() && level_.empty()) {
        // The stored level, as the agent in the browser reads it; a settings file that cannot be
        // read leaves the defaults.
        try {
            preferences.loadPreferences();
        } catch (const Error&) {
        }
        services.setRuleSetFile("");
        return ChosenRuleSet{
            std::string(privacyLevelLabel(preferences.privacyLevel())) + " (stored level)",
            preferences.activeRuleSetPath(false)};
    }
    ChosenRuleSet chosen;
    if (!ruleSetPath_.empty()) {
        chosen = {"rule set file", ruleSetPath_};
    } else {
        const PrivacyLevel level = privacyLevelNamed(level_).value_or(PrivacyLevel::kLevelMedium);
        chosen = {std::string(privacyLevelLabel(level)),
                  services.locations().ruleSetFile(P3PPreferences::ruleSetFileName(level))};
    }
    std::error_code missing;
    if (!std::filesystem::is_regular_file(chosen.file, missing)) {
        error = "no rule set at " + chosen.file +
                (level_ == "custom"     ? "; write one with `perchlight custom`"
                 : level_ == "imported" ? "; import one with `perchlight import FILE`"
                                        : "");
        return std::nullopt;
    }
    services.setRuleSetFile(chosen.file);
    return chosen;
}

std::string RuleSetOptions::problemWith(const std::string& file) {
    FileReader::Failure failure = FileReader::Failure::kNone;
    const std::optional<std::string> bytes =
        FileReader::read(file, XmlNode::kMaxFileSize, &failure);
    if (!bytes) {
        return FileReader::describe(failure);
    }
    try {
        const XmlNodePtr root = XmlNode::parseXmlBuffer(*bytes);
        if (!root || root->name != "APPEL:RULESET" || root->children().empty()) {
            return kNotARuleSet;
        }
    } catch (const Error& error) {
        return error.message();
    }
    return {};
}

}  // namespace perchlight::cli
