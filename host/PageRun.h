#pragma once

#include <nlohmann/json.hpp>

#include <atomic>
#include <functional>
#include <thread>
#include <vector>

#include "browser/PageCollector.h"
#include "retrieval/CheckOwner.h"
#include "retrieval/P3PMatchInfo.h"
#include "util/Monitor.h"
#include "util/Url.h"

namespace perchlight {

class AgentServices;

// One page check that a "page" request started: the check state of that request alone, its
// owner and indicator, and its thread. The agent's page check (retrieval/PageCheck) runs it over
// the page the browser reported, as the Qt agent runs it over a window's page. Exactly one reply
// leaves per run: the verdict when the check ends, or "cancelled" when the tab moved on first.
// cancel(), finished() and ended() may be called from any thread; the results only once
// finished() is true.
class PageRun : public CheckOwner, public CheckIndicator {
  public:
    using Reply = std::function<void(const nlohmann::json&)>;

    // reported: the P3P headers the browser saw on the page's response and its items' responses,
    // which give the results their compact policies once the check has ended.
    PageRun(AgentServices& services, nlohmann::json id, Url page, const CollectedPage& collected,
            std::vector<SeenP3PHeader> reported = {});
    ~PageRun() override;
    PageRun(const PageRun&) = delete;
    PageRun& operator=(const PageRun&) = delete;

    // Starts the check's thread; reply is called once from it (or from cancel).
    void start(Reply reply);
    // Stops the check and answers its request "cancelled", unless it was answered already.
    void cancel();
    // True once the thread has done everything it will do.
    bool ended() const { return ended_; }
    bool cancelled() const { return cancelled_; }
    // True once the check's results are complete (set before its reply leaves).
    bool finished() const { return finished_; }
    // Waits for the thread, waking its downloads until it has ended.
    void join();

    const Url& page() const { return page_; }
    int verdict() const { return verdict_; }
    // The "page" reply of the finished check, id and ok included.
    nlohmann::json verdictReply();

    P3PMatchInfo& matchInfo() override { return info_; }
    CheckIndicator& indicator() override { return *this; }
    Monitor& checkMonitor() override { return monitor_; }
    const std::vector<EmbeddedItem>& embeddedContent() const override { return embedded_; }
    const Url& linkPolicyReference() const override { return linkPolicyRef_; }
    bool postedNavigation() const override { return false; }

    void showVerdict(int verdict, bool) override { verdict_ = verdict; }

  private:
    void answer(const nlohmann::json& reply);

    const nlohmann::json id_;
    const Url page_;
    P3PMatchInfo info_;
    Monitor monitor_;
    std::vector<EmbeddedItem> embedded_;
    Url linkPolicyRef_;
    const std::vector<SeenP3PHeader> reported_;
    std::atomic<int> verdict_{kVerdictUnknown};
    Reply reply_;
    std::atomic<bool> answered_{false};
    std::atomic<bool> cancelled_{false};
    std::atomic<bool> finished_{false};
    std::atomic<bool> ended_{false};
    std::thread thread_;
};

}  // namespace perchlight
