#include "cli/CheckCommand.h"

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <sstream>
#include <thread>

#include "browser/HeadlessOwner.h"
#include "prefs/ModuleDirectory.h"
#include "prefs/P3PPreferences.h"
#include "retrieval/PageCheck.h"
#include "retrieval/PolicyCache.h"
#include "util/Error.h"

namespace perchlight::cli {
namespace {

int exitStatus(int verdict) {
    switch (verdict) {
        case kVerdictMatched:
            return kExitPageMatched;
        case kVerdictUnmatched:
            return kExitPageUnmatched;
        case kVerdictPartlyMatched:
            return kExitPagePartlyMatched;
        default:
            return kExitPageUnknown;
    }
}

bool readFileInto(const std::string& path, std::string& bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return false;
    }
    std::ostringstream content;
    content << in.rdbuf();
    bytes = content.str();
    return true;
}

struct ItemReport {
    std::string url;
    std::string state;
    std::string type;
    std::string policy;
};

std::vector<ItemReport> itemReports(const P3PMatchInfo& info) {
    std::vector<ItemReport> items;
    for (const Url& url : info.embeddedUrls()) {
        items.push_back({url.str(), stateWord(info.embeddedState(url)), info.contentType(url),
                         info.embeddedPolicyUrl(url).str()});
    }
    return items;
}

void printText(std::ostream& out, int verdict, const MatchResult& main,
               const std::vector<ItemReport>& items) {
    out << "verdict: " << verdictWord(verdict) << "\n";
    out << "policy:  " << main.policyUrl.str() << "\n";
    for (const std::string& description : main.descriptions) {
        out << "  - " << description << "\n";
    }
    for (const ItemReport& item : items) {
        out << item.url << "\t" << item.state << "\t" << item.type << "\t" << item.policy << "\n";
    }
}

void printJson(std::ostream& out, const std::string& page, int verdict, const MatchResult& main,
               const std::vector<ItemReport>& items) {
    nlohmann::json report = {{"page", page},
                             {"verdict", verdictWord(verdict)},
                             {"policy", main.policyUrl.str()},
                             {"state", main.state},
                             {"descriptions", main.descriptions},
                             {"embedded", nlohmann::json::array()}};
    for (const ItemReport& item : items) {
        report["embedded"].push_back({{"url", item.url},
                                      {"check", item.state},
                                      {"type", item.type},
                                      {"policy", item.policy}});
    }
    out << report.dump(2) << "\n";
}

// The rule set file of a privacy level named on the command line.
std::string levelRuleSetPath(const std::string& level) {
    constexpr std::array<const char*, 5> kNames = {"low", "medium", "high", "custom", "imported"};
    const auto found = std::find(kNames.begin(), kNames.end(), level);
    const auto number = static_cast<std::int32_t>(found - kNames.begin()) + kLevelLow;
    return moduleDirectory() + P3PPreferences::ruleSetFileName(number);
}

}  // namespace

const char* verdictWord(int verdict) {
    switch (verdict) {
        case kVerdictMatched:
            return "matched";
        case kVerdictUnmatched:
            return "unmatched";
        case kVerdictPartlyMatched:
            return "partly matched";
        default:
            return "unknown";
    }
}

const char* stateWord(int state) {
    return state == 0 ? "Matched" : state == 1 ? "UnMatched" : "Unknown";
}

CheckCommand::CheckCommand(CLI::App& app)
    : command_(app.add_subcommand("check", "Check a web page and its embedded content")) {
    command_->add_option("URL", url_, "Absolute http or https URL of the page")->required();
    command_->add_flag("--post", post_, "The page was reached by posting a form");
    auto* level =
        command_
            ->add_option("--level", level_, "Privacy level: low, medium, high, custom, imported")
            ->check(CLI::IsMember({"low", "medium", "high", "custom", "imported"}));
    command_->add_option("--rules", ruleSetPath_, "APPEL rule set file to use instead")
        ->excludes(level);
    command_->add_flag("--json", json_, "Print the result as JSON");
}

bool CheckCommand::selected() const {
    return command_->parsed();
}

int CheckCommand::run(std::ostream& out, std::ostream& err) const {
    Url page;
    try {
        page = Url(url_);
    } catch (const Error& error) {
        err << "perchlight: " << error.message() << ": " << url_ << "\n";
        return kExitPageUnknown;
    }
    if (page.protocol() != "http" && page.protocol() != "https") {
        err << "perchlight: only http and https pages are checked\n";
        return kExitPageUnknown;
    }
    const std::string rules = ruleSetPath_.empty() ? levelRuleSetPath(level_) : ruleSetPath_;
    std::error_code missing;
    if (!std::filesystem::is_regular_file(rules, missing)) {
        err << "perchlight: no rule set at " << rules
            << (level_ == "custom"     ? "; write one with `perchlight custom`"
                : level_ == "imported" ? "; import one with `perchlight import FILE`"
                                       : "")
            << "\n";
        return kExitPageUnknown;
    }
    PolicyCache& cache = PolicyCache::instance();
    cache.setRuleSetReader([rules](std::string& bytes) { return readFileInto(rules, bytes); });
    P3PMatchInfo info;
    HeadlessOwner owner(info);
    try {
        cache.loadCacheIndex();
        if (!owner.loadPage(page, post_)) {
            err << "perchlight: the page yielded no document; checking its policy only\n";
        }
        std::thread check(runCheckThread, std::ref(owner), page, post_ ? "posted" : "");
        check.join();
        cache.writeCacheIndex();
    } catch (const Error& error) {
        err << "perchlight: " << error.message() << "\n";
    }
    const MatchResult main = info.mainResult();
    const std::vector<ItemReport> items = itemReports(info);
    if (json_) {
        printJson(out, url_, owner.verdict(), main, items);
    } else {
        printText(out, owner.verdict(), main, items);
    }
    return exitStatus(owner.verdict());
}

}  // namespace perchlight::cli
