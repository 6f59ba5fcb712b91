#pragma once

#include <chrono>
#include <cstddef>
#include <iosfwd>
#include <string>
#include <vector>

#include "cli/SurveyRecord.h"

namespace perchlight {
class AgentServices;
}

namespace perchlight::cli {

// Runs the checks of a survey on a number of worker threads over one AgentServices and writes
// each record, whole and flushed, as soon as its check ends, in the order they end. A progress
// line (done / total, rate, verdicts so far, time left) is redrawn on the progress stream when
// one is given: a terminal.
class SurveyRunner {
  public:
    struct Options {
        std::size_t jobs = 16;
        std::chrono::milliseconds timeLimit{30000};
        bool csv = false;
    };

    // The default number of concurrent checks: they wait on the network far more than they
    // compute, so several per core.
    static std::size_t defaultJobs();

    SurveyRunner(AgentServices& services, std::ostream& records, std::ostream* progress,
                 Options options)
        : services_(services), records_(records), progress_(progress), options_(options) {}

    // Checks every address once; returns the records written.
    std::vector<SurveyRecord> run(const std::vector<std::string>& addresses);

  private:
    AgentServices& services_;
    std::ostream& records_;
    std::ostream* progress_;
    Options options_;
};

}  // namespace perchlight::cli
