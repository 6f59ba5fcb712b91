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

// Runs the checks of a survey over one AgentServices, up to jobs sites under way at once, their
// steps on a few worker threads (WorkerPool) while their documents download on the transfer
// engine, and writes each record, whole and flushed, as soon as its check ends, in the order they
// end. A progress
// line (done / total, rate, verdicts so far, time left) is redrawn on the progress stream when
// one is given: a terminal.
class SurveyRunner {
  public:
    struct Options {
        std::size_t jobs = 16;
        std::chrono::milliseconds timeLimit{30000};
        bool csv = false;
    };

    // Most sites under way at once by default: as many as the transfer engine keeps connections
    // open.
    static constexpr std::size_t kMaxDefaultJobs = 1000;
    // File descriptors set aside for the process itself (files, the cache, libcurl's own).
    static constexpr std::size_t kReservedDescriptors = 64;
    // Connections one check may hold at once (its page and a reference file or policy).
    static constexpr std::size_t kDescriptorsPerCheck = 2;

    // Raises the process's limit of open files to its hard limit and returns it.
    static std::size_t raiseDescriptorLimit();
    // The default number of concurrent checks: checks wait on the network far more than they
    // compute, so enough to fill it at any latency, within kMaxDefaultJobs and what the limit
    // of open files leaves for kDescriptorsPerCheck each.
    static std::size_t defaultJobs(std::size_t descriptorLimit);

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
