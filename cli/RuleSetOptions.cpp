#include "cli/RuleSetOptions.h"

#include <CLI/CLI.hpp>

#include <filesystem>
#include <ostream>
#include <vector>

#include "browser/AgentServices.h"
#include "prefs/P3PPreferences.h"
#include "prefs/PrivacyLevel.h"

namespace perchlight::cli {

void RuleSetOptions::addTo(CLI::App& command) {
    std::vector<std::string> names;
    for (const PrivacyLevelName& known : privacyLevelNames()) {
        names.emplace_back(known.name);
    }
    auto* level =
        command.add_option("--level", level_, "Privacy level: low, medium, high, custom, imported")
            ->check(CLI::IsMember(names));
    command.add_option("--rules", ruleSetPath_, "APPEL rule set file to use instead")
        ->excludes(level);
}

std::string RuleSetOptions::ruleSetFile(const AgentServices& services) const {
    if (!ruleSetPath_.empty()) {
        return ruleSetPath_;
    }
    const PrivacyLevel level = privacyLevelNamed(level_).value_or(PrivacyLevel::kLevelMedium);
    return services.moduleDirectory() + P3PPreferences::ruleSetFileName(level);
}

bool RuleSetOptions::apply(AgentServices& services, std::ostream& err) const {
    const std::string rules = ruleSetFile(services);
    std::error_code missing;
    if (!std::filesystem::is_regular_file(rules, missing)) {
        err << "perchlight: no rule set at " << rules
            << (ruleSetPath_.empty() && level_ == "custom" ? "; write one with `perchlight custom`"
                : ruleSetPath_.empty() && level_ == "imported"
                    ? "; import one with `perchlight import FILE`"
                    : "")
            << "\n";
        return false;
    }
    services.setRuleSetFile(rules);
    return true;
}

}  // namespace perchlight::cli
