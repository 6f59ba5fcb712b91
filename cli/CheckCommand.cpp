#include "cli/CheckCommand.h"

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <ostream>

#include "browser/AgentServices.h"
#include "cli/ExitStatus.h"
#include "cli/HeadlessCheck.h"
#include "cli/WhyOutput.h"
#include "retrieval/P3PMatchInfo.h"

namespace perchlight::cli {
namespace {

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

// What one check found, for either output.
struct Report {
    std::string asked;
    int verdict = kVerdictUnknown;
    MatchResult main;
    std::vector<ItemReport> items;
    ChosenRuleSet rules;
    PageCheckNotes notes;
    std::vector<SeenP3PHeader> p3pHeaders;
    CoveringResult covering;  // what each header's compact policy is compared with
    bool why = false;
};

void printText(std::ostream& out, const Report& report) {
    out << "verdict: " << verdictWord(report.verdict) << "\n";
    out << "policy:  " << report.main.policyUrl.str() << "\n";
    out << "rules:   " << report.rules.label << " (" << report.rules.file << ")\n";
    if (!report.notes.loaded.empty()) {
        out << "loaded:  " << report.notes.loaded << " (asked for " << report.asked << ")\n";
    }
    if (!report.notes.why.empty()) {
        out << "why:     " << report.notes.why << "\n";
    }
    printDescriptions(out, report.main, report.why);
    printCompactPolicies(out, report.p3pHeaders, report.covering);
    for (const ItemReport& item : report.items) {
        out << item.url << "\t" << item.state << "\t" << item.type << "\t" << item.policy << "\n";
    }
}

void printJson(std::ostream& out, const Report& report) {
    nlohmann::json json = {
        {"page", report.asked},
        {"loaded", report.notes.loaded.empty() ? report.asked : report.notes.loaded},
        {"verdict", verdictWord(report.verdict)},
        {"level", report.rules.label},
        {"rules", report.rules.file},
        {"policy", report.main.policyUrl.str()},
        {"state", report.main.state},
        {"descriptions", report.main.descriptions},
        {"firedRules", firedRulesJson(report.main)},
        {"compactPolicies", compactPoliciesJson(report.p3pHeaders, report.covering)},
        {"embedded", nlohmann::json::array()}};
    if (!report.notes.why.empty()) {
        json["error"] = report.notes.why;
    }
    for (const ItemReport& item : report.items) {
        json["embedded"].push_back({{"url", item.url},
                                    {"check", item.state},
                                    {"type", item.type},
                                    {"policy", item.policy}});
    }
    out << json.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
}

// A check that could not start: the reason, as text or as the one JSON document of the run.
int refuse(std::ostream& out, std::ostream& err, bool json, const std::string& page,
           const std::string& error) {
    if (json) {
        out << nlohmann::json{{"page", page}, {"verdict", "unknown"}, {"error", error}}.dump(
                   2, ' ', false, nlohmann::json::error_handler_t::replace)
            << "\n";
    }
    err << "perchlight: " << error << "\n";
    return kExitPageUnknown;
}

}  // namespace

CheckCommand::CheckCommand(CLI::App& app)
    : command_(app.add_subcommand("check", "Check a web page and its embedded content")) {
    command_->add_option("URL", url_, "http or https URL of the page, or a bare host name")
        ->required();
    command_->add_flag("--post", post_, "The page was reached by posting a form");
    ruleSet_.addTo(*command_);
    command_->add_flag("--json", json_, "Print the result as JSON");
    command_->add_flag("--why", why_,
                       "Under each fired rule, the statements and elements that made it fire");
}

bool CheckCommand::selected() const {
    return command_->parsed();
}

int CheckCommand::run(AgentServices& services, std::ostream& out, std::ostream& err) const {
    Url page;
    std::string error;
    if (!parsePageUrl(url_, page, error)) {
        return refuse(out, err, json_, url_, error);
    }
    const std::optional<ChosenRuleSet> rules = ruleSet_.apply(services, error);
    if (!rules) {
        return refuse(out, err, json_, url_, error);
    }
    P3PMatchInfo info(services.referenceStore(), services.cache());
    const PageCheckOutcome outcome = checkPageHeadless(services, page, post_, info);
    Report report{url_,
                  outcome.verdict,
                  info.mainResult(),
                  itemReports(info),
                  *rules,
                  {},
                  {},
                  [&info](const Url& url) { return info.coveringResult(url); },
                  why_};
    report.notes = notesFor(page, outcome, report.main, rules->file);
    report.p3pHeaders = outcome.p3pHeaders;
    if (report.main.compactPolicy.empty()) {
        report.main.compactPolicy = compactPolicyFor(outcome.p3pHeaders, outcome.page);
    }
    if (json_) {
        printJson(out, report);
    } else {
        printText(out, report);
    }
    return exitStatusForVerdict(outcome.verdict);
}

}  // namespace perchlight::cli
