#include "host/PageRun.h"

#include "browser/AgentServices.h"
#include "browser/BirdPicture.h"
#include "browser/CompactPolicyJson.h"
#include "browser/FiredRulesJson.h"
#include "host/RunThread.h"
#include "retrieval/PageCheck.h"
#include "summary/SummaryPage.h"

namespace perchlight {
namespace {

using nlohmann::json;

const char* stateName(int state) {
    switch (state) {
        case kStateNoConflict:
            return "matched";
        case kStateConflict:
            return "unmatched";
        default:
            return "unknown";
    }
}

std::string webAddressOrEmpty(const std::string& address) {
    try {
        const std::string protocol = Url(address).protocol();
        if (protocol == "http" || protocol == "https") {
            return address;
        }
    } catch (const std::exception&) {
    }
    return {};
}

}  // namespace

PageRun::PageRun(AgentServices& services, json id, Url page, const CollectedPage& collected,
                 std::vector<SeenP3PHeader> reported)
    : id_(std::move(id)),
      page_(std::move(page)),
      info_(services.referenceStore(), services.cache()),
      embedded_(collected.embedded),
      linkPolicyRef_(collected.linkPolicyRef),
      reported_(std::move(reported)) {}

PageRun::~PageRun() {
    cancel();
    join();
}

void PageRun::start(Reply reply) {
    reply_ = std::move(reply);
    thread_ = std::thread([this] {
        runCheckThread(*this, page_, "");
        for (const SeenP3PHeader& header : reported_) {
            info_.noteReportedP3PHeader(header.url, header.value);
        }
        // The results are complete before the reply leaves: the browser may ask for the summary
        // the moment it has the verdict.
        finished_ = true;
        if (!cancelled_) {
            json reply;
            try {
                reply = verdictReply();
            } catch (const std::exception& error) {
                reply = json{{"id", id_}, {"ok", false}, {"error", error.what()}};
            }
            answer(reply);
        }
        ended_ = true;
    });
}

void PageRun::answer(const json& reply) {
    if (!answered_.exchange(true) && reply_) {
        reply_(reply);
    }
}

void PageRun::cancel() {
    cancelled_ = true;
    info_.setRunning(false);
    {
        MonitorLock guard(monitor_);
        monitor_.broadcast();
    }
    answer(json{{"id", id_}, {"ok", false}, {"error", "cancelled"}});
}

void PageRun::join() {
    joinRunThread(thread_, monitor_, ended_, cancelled_);
}

json PageRun::verdictReply() {
    const int verdict = verdict_;
    const MatchResult main = info_.mainResult();
    std::string title(kBirdTipNoPolicy);
    if (verdictHasSummary(verdict)) {
        title = SummaryPage().tooltipText(main);
    }
    if (title.size() > kBirdMaxTipLength) {
        title.resize(kBirdMaxTipLength);
    }
    // Each fired rule with the statements and elements that made it fire.
    const json rules = firedRulesJson(main);
    json items = json::array();
    for (const Url& item : info_.embeddedUrls()) {
        items.push_back(json{{"url", item.str()},
                             {"state", stateName(info_.embeddedState(item))},
                             {"type", info_.contentType(item)},
                             {"policy", info_.embeddedPolicyUrl(item).str()}});
    }
    return json{{"id", id_},
                {"ok", true},
                {"verdict", verdictWord(verdict)},
                {"picture", verdictPicture(verdict, false)},
                {"title", title},
                {"enabled", true},
                {"policy", info_.mainPolicyUrl().str()},
                {"fullPolicy", webAddressOrEmpty(main.disclosureUri)},
                {"optOut", webAddressOrEmpty(main.optOutUri)},
                {"rules", rules},
                {"items", items},
                {"compactPolicies", compactPoliciesJson(info_.p3pHeaders(), [this](const Url& url) {
                     return info_.coveringResult(url);
                 })}};
}

}  // namespace perchlight
