#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "cli/CheckDeadlines.h"
#include "cli/SurveyRecord.h"
#include "retrieval/PageFetch.h"

namespace perchlight {
class AgentServices;
}

namespace perchlight::cli {

// The error class of a transfer that brought no answer at all ("dns", "connect", ...).
const char* transportErrorClass(TransportFailure failure);

// Checks one address of a survey as a browser window would: reads the page (following
// redirects), collects its embedded content, then runs the page check on the calling thread with
// its own match info over the services' reference store and cache, which every check of the
// survey shares. No thread is started for a check: one thread keeps the deadlines of all, and a
// check that outlasts the time limit is cancelled from there as a window cancels one (running
// cleared, its monitor signalled) and recorded as a time-out. Thread-safe: any number of
// addresses may be checked at once over one AgentServices.
class SurveyCheck {
  public:
    SurveyCheck(AgentServices& services, std::chrono::milliseconds timeLimit)
        : services_(services),
          timeLimit_(timeLimit),
          deadlines_(std::make_unique<CheckDeadlines>()) {}

    SurveyRecord run(const std::string& address) const;

  private:
    AgentServices& services_;
    std::chrono::milliseconds timeLimit_;
    std::unique_ptr<CheckDeadlines> deadlines_;
};

}  // namespace perchlight::cli
