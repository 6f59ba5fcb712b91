#include "cli/CheckCommand.h"

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <ostream>

#include "browser/AgentServices.h"
#include "cli/ExitStatus.h"
#include "cli/HeadlessCheck.h"
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

}  // namespace

CheckCommand::CheckCommand(CLI::App& app)
    : command_(app.add_subcommand("check", "Check a web page and its embedded content")) {
    command_->add_option("URL", url_, "Absolute http or https URL of the page")->required();
    command_->add_flag("--post", post_, "The page was reached by posting a form");
    ruleSet_.addTo(*command_);
    command_->add_flag("--json", json_, "Print the result as JSON");
}

bool CheckCommand::selected() const {
    return command_->parsed();
}

int CheckCommand::run(AgentServices& services, std::ostream& out, std::ostream& err) const {
    Url page;
    if (!parsePageUrl(url_, page, err) || !ruleSet_.apply(services, err)) {
        return kExitPageUnknown;
    }
    P3PMatchInfo info(services.referenceStore(), services.cache());
    const int verdict = checkPageHeadless(services, page, post_, info, err);
    const MatchResult main = info.mainResult();
    const std::vector<ItemReport> items = itemReports(info);
    if (json_) {
        printJson(out, url_, verdict, main, items);
    } else {
        printText(out, verdict, main, items);
    }
    return exitStatusForVerdict(verdict);
}

}  // namespace perchlight::cli
