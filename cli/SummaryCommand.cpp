#include "cli/SummaryCommand.h"

#include <CLI/CLI.hpp>

#include <ostream>

#include "browser/AgentServices.h"
#include "cli/ExitStatus.h"
#include "cli/HeadlessCheck.h"
#include "cli/SummaryOutput.h"
#include "cli/WhyOutput.h"
#include "retrieval/P3PMatchInfo.h"
#include "summary/SummaryPage.h"

namespace perchlight::cli {

SummaryCommand::SummaryCommand(CLI::App& app)
    : command_(app.add_subcommand("summary", "Summarise the privacy policy of a web page")) {
    command_->add_option("URL", url_, "http or https URL of the page, or a bare host name")
        ->required();
    ruleSet_.addTo(*command_);
    command_->add_option("--html", htmlPath_, "Also write the HTML summary page to this file");
    command_->add_flag("--why", why_,
                       "Under each fired rule, the statements and elements that made it fire");
}

bool SummaryCommand::selected() const {
    return command_->parsed();
}

int SummaryCommand::run(AgentServices& services, std::ostream& out, std::ostream& err) const {
    Url page;
    std::string error;
    std::optional<ChosenRuleSet> rules;
    if (!parsePageUrl(url_, page, error) || !(rules = ruleSet_.apply(services, error))) {
        err << "perchlight: " << error << "\n";
        return kExitPageUnknown;
    }
    P3PMatchInfo info(services.referenceStore(), services.cache());
    const PageCheckOutcome outcome = checkPageHeadless(services, page, false, info);
    const int verdict = outcome.verdict;
    MatchResult main = info.mainResult();
    if (main.compactPolicy.empty()) {
        main.compactPolicy = compactPolicyFor(outcome.p3pHeaders, outcome.page);
    }
    const PageCheckNotes notes = notesFor(page, outcome, main, rules->file);
    const CoveringResult covering = [&info](const Url& url) { return info.coveringResult(url); };
    out << SummaryPage().tooltipText(main) << "\n";
    out << "rules: " << rules->label << " (" << rules->file << ")\n";
    if (!notes.loaded.empty()) {
        out << "loaded: " << notes.loaded << " (asked for " << url_ << ")\n";
    }
    if (!notes.why.empty()) {
        err << "perchlight: " << notes.why << "\n";
    }
    if (main.state != kStateNoConflict && main.state != kStateConflict) {
        printCompactPolicies(out, outcome.p3pHeaders, covering);
        if (!htmlPath_.empty()) {
            err << "perchlight: no summary page without a valid policy\n";
        }
        return kExitPageUnknown;
    }
    out << "policy: " << main.policyUrl.str() << "\n";
    printDescriptions(out, main, why_);
    printCompactPolicies(out, outcome.p3pHeaders, covering);
    printDigest(out, main);
    if (!htmlPath_.empty() && !writeSummaryHtml(main, htmlPath_, err)) {
        return kExitPageUnknown;
    }
    return exitStatusForVerdict(verdict);
}

}  // namespace perchlight::cli
