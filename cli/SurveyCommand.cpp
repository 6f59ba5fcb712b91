#include "cli/SurveyCommand.h"

#include <unistd.h>
#include <CLI/CLI.hpp>

#include <filesystem>
#include <fstream>
#include <iostream>
#include <ostream>

#include "browser/AgentServices.h"
#include "cli/ExitStatus.h"
#include "cli/SurveyInput.h"
#include "cli/SurveyReport.h"
#include "cli/SurveyRunner.h"
#include "util/Error.h"

namespace perchlight::cli {
namespace {

bool writeHtmlReport(const SurveyReport& report, const std::string& path, std::ostream& err) {
    std::ofstream html(path, std::ios::binary | std::ios::trunc);
    report.writeHtml(html);
    html.flush();
    if (!html) {
        err << "perchlight: cannot write " << path << "\n";
        return false;
    }
    return true;
}

std::vector<std::string> addressesToSurvey(std::istream& in, const std::optional<Shard>& shard,
                                           const std::set<std::string>& recorded) {
    std::vector<std::string> addresses;
    for (std::string& address : readSurveyList(in)) {
        if ((!shard || inShard(address, *shard)) && !recorded.contains(address)) {
            addresses.push_back(std::move(address));
        }
    }
    return addresses;
}

}  // namespace

SurveyCommand::SurveyCommand(CLI::App& app)
    : command_(app.add_subcommand("survey", "Check every web page of a list, many at once")) {
    command_->add_option("LIST", list_, "File of URLs or host names, one a line ('#' comments)");
    command_->add_flag("--stdin", stdin_, "Read the list from the standard input");
    ruleSet_.addTo(*command_);
    command_
        ->add_option("--jobs", jobs_,
                     "Most concurrent checks (default: as many as fill the network, up to 1000)")
        ->check(CLI::Range(1, 1024));
    command_->add_option("--out", out_,
                         "Write the records to this file (default: standard output)");
    command_->add_flag("--csv", csv_, "Write CSV instead of JSON Lines");
    command_->add_flag("--resume", resume_,
                       "Skip the addresses already recorded in the --out file and append");
    command_->add_option("--shard", shard_, "I/N: survey only shard I (0 to N-1) of N");
    command_->add_option("--timeout", timeout_, "Seconds one site's check may take (default 30)")
        ->check(CLI::Range(0.1, 3600.0));
    command_->add_option("--report", report_, "Print the report of a finished survey output");
    command_->add_option("--html", html_, "Also write the report as an HTML page to this file");
}

bool SurveyCommand::selected() const {
    return command_->parsed();
}

int SurveyCommand::run(AgentServices& services, std::ostream& out, std::ostream& err) const {
    if (!report_.empty()) {
        return report(out, err);
    }
    return survey(services, out, err);
}

int SurveyCommand::report(std::ostream& out, std::ostream& err) const {
    std::ifstream in(report_);
    if (!in) {
        err << "perchlight: cannot read " << report_ << "\n";
        return kExitSurveyFailed;
    }
    const SurveyReport summary(SurveyReport::readOutput(in));
    summary.writeText(out);
    return writeHtmlReport(summary, html_.empty() ? report_ + ".html" : html_, err)
               ? kExitSurveyDone
               : kExitSurveyFailed;
}

int SurveyCommand::survey(AgentServices& services, std::ostream& out, std::ostream& err) const {
    if (list_.empty() == !stdin_) {
        err << "perchlight: name a list file or give --stdin\n";
        return kExitUsage;
    }
    if (resume_ && out_.empty()) {
        err << "perchlight: --resume needs --out FILE\n";
        return kExitUsage;
    }
    std::optional<Shard> shard;
    if (!shard_.empty() && !(shard = parseShard(shard_))) {
        err << "perchlight: --shard takes I/N with 0 <= I < N, such as 0/4\n";
        return kExitUsage;
    }
    if (std::string error; !ruleSet_.apply(services, error)) {
        err << "perchlight: " << error << "\n";
        return kExitSurveyFailed;
    }
    // Every site of the survey is checked against the rule set as it is now.
    services.holdRuleSet();
    std::ifstream listFile;
    if (!stdin_) {
        listFile.open(list_);
        if (!listFile) {
            err << "perchlight: cannot read " << list_ << "\n";
            return kExitSurveyFailed;
        }
    }
    const std::set<std::string> recorded =
        resume_ ? recordedAddresses(out_, csv_) : std::set<std::string>();
    const std::vector<std::string> addresses =
        addressesToSurvey(stdin_ ? std::cin : listFile, shard, recorded);

    std::ofstream file;
    if (!out_.empty()) {
        file.open(out_, std::ios::binary | (resume_ ? std::ios::app : std::ios::trunc));
        if (!file) {
            err << "perchlight: cannot write " << out_ << "\n";
            return kExitSurveyFailed;
        }
    }
    std::ostream& records = out_.empty() ? out : file;
    std::error_code noSize;
    if (csv_ && (out_.empty() || std::filesystem::file_size(out_, noSize) == 0)) {
        records << csvHeader() << "\n";
    }
    try {
        services.cache().loadCacheIndex();
    } catch (const Error& error) {
        err << "perchlight: " << error.message() << "\n";
    }
    SurveyRunner::Options options;
    // A cap given with --jobs is kept; the limit of open files is raised either way.
    const std::size_t descriptors = SurveyRunner::raiseDescriptorLimit();
    options.jobs = jobs_ != 0 ? jobs_ : SurveyRunner::defaultJobs(descriptors);
    options.timeLimit = std::chrono::milliseconds(static_cast<long>(timeout_ * 1000));
    options.csv = csv_;
    // The progress line goes to a terminal only; a log file gets the records and the report.
    std::ostream* progress = isatty(STDERR_FILENO) ? &err : nullptr;
    std::vector<SurveyRecord> written =
        SurveyRunner(services, records, progress, options).run(addresses);
    try {
        services.cache().writeCacheIndex();
    } catch (const Error& error) {
        err << "perchlight: " << error.message() << "\n";
    }
    file.close();
    if (resume_) {
        // A resumed survey reports on all its records, the earlier runs' too; a new one on what
        // it has just written, which it holds already.
        std::ifstream whole(out_);
        written = SurveyReport::readOutput(whole);
    }
    const SurveyReport summary(written);
    summary.writeText(out_.empty() ? err : out);
    if (!html_.empty() && !writeHtmlReport(summary, html_, err)) {
        return kExitSurveyFailed;
    }
    return kExitSurveyDone;
}

}  // namespace perchlight::cli
