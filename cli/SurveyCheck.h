#pragma once

#include <chrono>
#include <functional>
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
// redirects), collects its embedded content, brings in the reference files and policies the
// check will ask for, then runs the page check with its own match info over the services'
// reference store and cache, which every check of the survey shares. No thread is started for a
// check: one thread keeps the deadlines of all, and a check that outlasts the time limit is
// cancelled from there as a window cancels one (running cleared, its monitor signalled, its
// downloads given up) and recorded as a time-out. Thread-safe: any number of
// addresses may be checked at once over one AgentServices.
class SurveyCheck {
  public:
    SurveyCheck(AgentServices& services, std::chrono::milliseconds timeLimit)
        : services_(services),
          timeLimit_(timeLimit),
          deadlines_(std::make_unique<CheckDeadlines>()) {}

    // Checks the address on the calling thread.
    SurveyRecord run(const std::string& address) const;

    // Checks the address in steps that post hands to workers; no thread waits for the page or
    // for the reference files and policies the check fetches (those the check asks for beyond
    // them it fetches on its worker). done gets the record on a worker.
    using Post = std::function<void(std::function<void()>)>;
    using Done = std::function<void(SurveyRecord)>;
    void start(const std::string& address, const Post& post, Done done) const;

  private:
    struct Site;
    void readPage(const std::shared_ptr<Site>& site, const Post& post) const;
    void nextRound(const std::shared_ptr<Site>& site, const Post& post) const;
    void checkSite(Site& site) const;
    void finish(Site& site) const;

    AgentServices& services_;
    std::chrono::milliseconds timeLimit_;
    std::unique_ptr<CheckDeadlines> deadlines_;
};

}  // namespace perchlight::cli
