#include "cli/SurveyCheck.h"

#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <optional>

#include "browser/AgentServices.h"
#include "browser/PageCollector.h"
#include "cli/HeadlessCheck.h"
#include "cli/SurveyCompact.h"
#include "retrieval/CheckDocuments.h"
#include "retrieval/CheckOwner.h"
#include "retrieval/CheckRegistry.h"
#include "retrieval/P3PMatchInfo.h"
#include "retrieval/PageCheck.h"
#include "retrieval/PageFetch.h"
#include "retrieval/PolicyCache.h"
#include "retrieval/PolicyPrefetch.h"
#include "retrieval/RequestTally.h"
#include "retrieval/TransferEngine.h"
#include "util/Error.h"

namespace perchlight::cli {
namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kXmlParseError = "XML parse error";
// What the evaluator's message says when a DATA reference could not be resolved.
constexpr const char* kDataReferenceFailure = "Exception while processing data ref item";

// The window of one surveyed page. The check asks for the LINK reference only when the
// well-known location gave nothing, and for the POST flag only when the LINK gave nothing too:
// what it asked for tells the route by which the policy was found.
class SurveyOwner : public CheckOwner, public CheckIndicator {
  public:
    explicit SurveyOwner(P3PMatchInfo& info) : info_(info) {}

    void setPage(CollectedPage page) { page_ = std::move(page); }
    void setPageHeaders(std::string headers) { pageHeaders_ = std::move(headers); }
    int verdict() const { return verdict_; }
    bool linkAsked() const { return linkAsked_; }
    bool headerAsked() const { return headerAsked_; }

    P3PMatchInfo& matchInfo() override { return info_; }
    CheckIndicator& indicator() override { return *this; }
    Monitor& checkMonitor() override { return checkMonitor_; }
    const std::vector<EmbeddedItem>& embeddedContent() const override { return page_.embedded; }
    const Url& linkPolicyReference() const override {
        linkAsked_ = true;
        return page_.linkPolicyRef;
    }
    bool postedNavigation() const override {
        headerAsked_ = true;
        return false;
    }
    const std::string* pageResponseHeaders() const override {
        return pageHeaders_ ? &*pageHeaders_ : nullptr;
    }

    // The site's steps have run the prefetch round by round: the check does not run it again.
    void setPrefetched() { prefetched_ = true; }
    bool prefetches() const override { return !prefetched_; }

    void showChecking() override { verdict_ = kVerdictUnknown; }
    void showVerdict(int verdict, bool) override { verdict_ = verdict; }

  private:
    P3PMatchInfo& info_;
    Monitor checkMonitor_;
    CollectedPage page_;
    std::optional<std::string> pageHeaders_;
    std::atomic<int> verdict_{kVerdictUnknown};
    mutable std::atomic<bool> linkAsked_{false};
    mutable std::atomic<bool> headerAsked_{false};
    bool prefetched_ = false;
};

bool isSuccess(long status) {
    return status >= 200 && status <= 299;
}

// The code of the last status line in raw response header text (redirects come first), 0 when
// there is none.
long lastStatus(const std::string& headers) {
    long status = 0;
    for (std::size_t line = 0; line < headers.size();) {
        std::size_t end = headers.find('\n', line);
        end = end == std::string::npos ? headers.size() : end;
        if (headers.compare(line, 5, "HTTP/") == 0) {
            const std::size_t space = headers.find(' ', line);
            status = space < end ? std::strtol(headers.c_str() + space + 1, nullptr, 10) : 0;
        }
        line = end + 1;
    }
    return status;
}

// Why the policy that a route named did not give a verdict: the code when it says, else the
// document itself: as this site's check got it, from the cache, or fetched once more when the
// check met a transport failure that it did not tell apart.
void classifyUnreadablePolicy(AgentServices& services, const CheckDocuments& documents,
                              const std::string& policyUrl, int code,
                              std::chrono::milliseconds timeLimit, SurveyRecord& record) {
    if (code == 6 || code == 9 || code == 10) {
        record.error = SurveyError::kMalformedPolicy;
        return;
    }
    if (code == -2) {
        record.error = SurveyError::kRuleSet;
        return;
    }
    const std::string document = Url::withoutFragment(policyUrl);
    const std::size_t hash = policyUrl.find('#');
    const std::string name = hash == std::string::npos ? "" : policyUrl.substr(hash + 1);
    std::optional<std::string> text;
    if (const std::optional<CheckDocuments::Kept> kept = documents.find(document)) {
        text = kept->text ? kept->text : kept->dropped;
        const long status = lastStatus(kept->headers);
        if (!text && status != 0) {
            record.error = isSuccess(status) ? SurveyError::kTransfer : SurveyError::kHttpStatus;
            if (!isSuccess(status)) {
                record.httpStatus = status;
            }
            return;
        }
    }
    if (!text) {
        text = services.cache().readCachedDocument(document);
    }
    if (!text) {
        const FetchOutcome outcome = PageFetch::fetch(document, timeLimit);
        if (outcome.failure != TransportFailure::kNone) {
            record.error = transportErrorClass(outcome.failure);
            return;
        }
        if (!isSuccess(outcome.status)) {
            record.error = SurveyError::kHttpStatus;
            record.httpStatus = outcome.status;
            return;
        }
        text = outcome.body;
    }
    if (!text) {
        record.error = SurveyError::kTransfer;
        return;
    }
    // A rule set without rules: only the policy's own faults can raise here.
    static const std::string kNoRules =
        "<appel:RULESET xmlns:appel=\"http://www.w3.org/2002/04/APPELv1\"/>";
    MatchResult scratch;
    try {
        const EvaluationCode evaluated =
            services.evaluator().evaluatePolicy(kNoRules, *text, Url(document), name, scratch);
        const int value = static_cast<int>(evaluated);
        record.error = (value == 6 || value == 9 || value == 10) ? SurveyError::kMalformedPolicy
                                                                 : SurveyError::kTransfer;
    } catch (const Error& error) {
        if (error.message() == kXmlParseError) {
            record.error = SurveyError::kNotXml;
        } else if (error.message().find(kDataReferenceFailure) != std::string::npos) {
            record.error = SurveyError::kUnresolvableReference;
        } else {
            record.error = SurveyError::kMalformedPolicy;
        }
    }
}

void fillResults(const P3PMatchInfo& info, SurveyRecord& record) {
    const MatchResult main = info.mainResult();
    record.policy = main.policyUrl.str();
    record.rules = main.descriptions;
    for (const Url& url : info.embeddedUrls()) {
        record.items.push_back({url.str(), info.contentType(url),
                                stateWord(info.embeddedState(url)),
                                info.embeddedPolicyUrl(url).str()});
    }
}

}  // namespace

const char* transportErrorClass(TransportFailure failure) {
    switch (failure) {
        case TransportFailure::kDns:
            return SurveyError::kDns;
        case TransportFailure::kConnect:
            return SurveyError::kConnect;
        case TransportFailure::kTimeout:
            return SurveyError::kTimeout;
        case TransportFailure::kTls:
            return SurveyError::kTls;
        case TransportFailure::kOther:
            return SurveyError::kTransfer;
        case TransportFailure::kNone:
            break;
    }
    return "";
}

// One site's check as it goes from step to step: each step runs on a worker with the site's
// request count, kept documents and connections installed; between steps no thread waits for
// the site's documents.
struct SurveyCheck::Site : std::enable_shared_from_this<Site> {
    // Installs the site's records on the calling thread for one step.
    class Scopes {
      public:
        explicit Scopes(Site& site)
            : requests_(&site.requests),
              documents_(&site.documents),
              connections_(*site.connections) {}

      private:
        RequestTally::Scope requests_;
        CheckDocuments::Scope documents_;
        ConnectionGroup::Scope connections_;
    };

    Clock::time_point start = Clock::now();
    SurveyRecord record;
    Done done;
    RequestTally::Counter requests{0};
    CheckDocuments documents;
    // The site's connections and names are its own and close when its check ends: a survey's
    // thousands of sites would otherwise fill the caches that every transfer looks through.
    std::optional<ConnectionGroup> connections{std::in_place};
    Url asked;
    Url checked;
    FetchOutcome page;
    std::unique_ptr<P3PMatchInfo> info;
    std::unique_ptr<SurveyOwner> owner;
    bool known = false;
    std::optional<PolicyPrefetch::Steps> steps;
    std::atomic<bool> cancelled{false};
    std::uint64_t deadline = 0;
    std::mutex lock;
    std::shared_ptr<PolicyCache::PrefetchRound> round;  // guarded by lock: the one downloading
};

void SurveyCheck::start(const std::string& address, const Post& post, Done done) const {
    auto site = std::make_shared<Site>();
    site->done = std::move(done);
    site->record.url = address;
    site->record.finalUrl = address;
    site->record.verdict = verdictWord(kVerdictUnknown);
    try {
        site->asked = Url(address);
    } catch (const Error&) {
    }
    if (site->asked.protocol() != "http" && site->asked.protocol() != "https") {
        site->record.error = SurveyError::kBadAddress;
        // On a worker too, so that a caller starting the next address from done does not go
        // deeper with each bad one.
        post([this, site] { finish(*site); });
        return;
    }
    const Site::Scopes scopes(*site);
    // The event thread hands the site on to a worker: the closure lets go of it there.
    PageFetch::start(address, timeLimit_, [this, post, site](FetchOutcome page) mutable {
        site->page = std::move(page);
        post([this, post, site = std::move(site)] { readPage(site, post); });
    });
}

void SurveyCheck::readPage(const std::shared_ptr<Site>& site, const Post& post) const {
    const Site::Scopes scopes(*site);
    SurveyRecord& record = site->record;
    const FetchOutcome& page = site->page;
    record.httpStatus = page.status;
    if (page.failure != TransportFailure::kNone) {
        record.error = transportErrorClass(page.failure);
        finish(*site);
        return;
    }
    site->checked = site->asked;
    try {
        site->checked = Url(page.finalUrl);
        record.finalUrl = site->checked.str();
    } catch (const Error&) {
    }
    site->info = std::make_unique<P3PMatchInfo>(services_.referenceStore(), services_.cache());
    site->owner = std::make_unique<SurveyOwner>(*site->info);
    SurveyOwner& owner = *site->owner;
    // The page's own answer gives its "policyref=" header: it is not asked for twice.
    owner.setPageHeaders(lastResponseHeaders(page.headers));
    if (page.body) {
        // Frames, like the page, are read where their redirects end.
        PageCollector collector([this](const Url& frame) -> std::optional<FetchedDocument> {
            FetchOutcome fetched = PageFetch::fetch(frame.str(), timeLimit_);
            if (!fetched.body) {
                return std::nullopt;
            }
            FetchedDocument document{std::move(*fetched.body), frame};
            try {
                if (!fetched.finalUrl.empty()) {
                    document.url = Url(fetched.finalUrl);
                }
            } catch (const Error&) {
            }
            return document;
        });
        owner.setPage(collector.collect(*page.body, site->checked));
    }
    site->known = !services_.referenceStore().lookupPolicy(site->checked, "GET").empty();

    // The deadlines' thread cancels the check once it outlasts the time limit: a round still
    // downloading is given up and the check goes on to meet its cancellation.
    Site* const cancelling = site.get();
    site->deadline = deadlines_->add(Clock::now() + timeLimit_, [this, cancelling, post] {
        Site& late = *cancelling;
        late.cancelled = true;
        late.info->setRunning(false);
        {
            MonitorLock guard(late.owner->checkMonitor());
            late.owner->checkMonitor().broadcast();
        }
        std::shared_ptr<PolicyCache::PrefetchRound> round;
        {
            std::lock_guard<std::mutex> guard(late.lock);
            round = std::move(late.round);
        }
        if (round) {
            // The round holds the site until it is given up.
            std::shared_ptr<Site> held = late.shared_from_this();
            if (PolicyCache::cancelPrefetch(round)) {
                // The round's done will not come: the site goes on from here.
                post([this, held = std::move(held)] { checkSite(*held); });
            }
        }
    });
    site->steps.emplace(*site->info, site->checked, "", owner.embeddedContent());
    nextRound(site, post);
}

void SurveyCheck::nextRound(const std::shared_ptr<Site>& site, const Post& post) const {
    const std::optional<std::vector<std::string>> documents =
        site->info->running() ? site->steps->next() : std::nullopt;
    if (!documents) {
        checkSite(*site);
        return;
    }
    std::lock_guard<std::mutex> guard(site->lock);
    if (!site->info->running()) {
        // Cancelled: nothing is downloaded any more.
        post([this, site] { checkSite(*site); });
        return;
    }
    // The round's done may come at once, before the round is noted: its step waits for the lock.
    site->round = services_.cache().startPrefetch(
        *documents, site->documents,
        [this, post, site]() mutable {
            post([this, post, site = std::move(site)] {
                {
                    std::lock_guard<std::mutex> guard(site->lock);
                    site->round.reset();
                }
                const Site::Scopes scopes(*site);
                if (site->steps->runCalls()) {
                    nextRound(site, post);
                } else {
                    checkSite(*site);
                }
            });
        },
        post);
}

void SurveyCheck::checkSite(Site& site) const {
    const Site::Scopes scopes(site);
    SurveyRecord& record = site.record;
    SurveyOwner& owner = *site.owner;
    P3PMatchInfo& info = *site.info;
    int code = 0;
    owner.setPrefetched();
    CheckRegistry::registerCurrentThread(owner.checkMonitor());
    try {
        code = checkPage(owner, site.checked, "");
    } catch (...) {
        // checkPage shows the unknown verdict for its own errors; nothing else may escape here.
    }
    CheckRegistry::unregisterCurrentThread();
    deadlines_->remove(site.deadline);

    const int verdict = owner.verdict();
    record.verdict = verdictWord(verdict);
    record.code = code;
    fillResults(info, record);
    const MatchResult main = info.mainResult();
    fillCompactFields(site.page.headers, main, record);
    if (!record.policy.empty()) {
        record.route = site.known             ? SurveyRoute::kKnown
                       : !owner.linkAsked()   ? SurveyRoute::kWellKnown
                       : !owner.headerAsked() ? SurveyRoute::kLink
                                              : SurveyRoute::kHeader;
    }
    if (verdict != kVerdictUnknown) {
        finish(site);
        return;
    }
    if (site.cancelled) {
        record.error = SurveyError::kTimeout;
    } else if (main.isTest) {
        record.error = SurveyError::kTestPolicy;
    } else if (record.policy.empty()) {
        const bool pageFailed = !isSuccess(site.page.status);
        record.error = pageFailed ? SurveyError::kHttpStatus : SurveyError::kNoPolicy;
    } else {
        classifyUnreadablePolicy(services_, site.documents, record.policy, code, timeLimit_,
                                 record);
    }
    finish(site);
}

void SurveyCheck::finish(Site& site) const {
    site.record.requests = site.requests.load();
    site.record.milliseconds =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - site.start).count();
    // The site's connections close here, on the worker, not wherever its last holder lets go.
    site.steps.reset();
    site.owner.reset();
    site.info.reset();
    site.connections.reset();
    const Done done = std::move(site.done);
    done(std::move(site.record));
}

SurveyRecord SurveyCheck::run(const std::string& address) const {
    // The calling thread runs the steps itself, as they come.
    struct Steps {
        std::mutex lock;
        std::condition_variable ready;
        std::deque<std::function<void()>> tasks;
        std::optional<SurveyRecord> record;
    };
    auto steps = std::make_shared<Steps>();
    const Post post = [steps](std::function<void()> task) {
        {
            std::lock_guard<std::mutex> guard(steps->lock);
            steps->tasks.push_back(std::move(task));
        }
        steps->ready.notify_one();
    };
    start(address, post, [steps](SurveyRecord record) {
        std::lock_guard<std::mutex> guard(steps->lock);
        steps->record = std::move(record);
    });
    std::unique_lock<std::mutex> guard(steps->lock);
    for (;;) {
        if (steps->record) {
            return std::move(*steps->record);
        }
        if (steps->tasks.empty()) {
            steps->ready.wait(guard);
            continue;
        }
        std::function<void()> task = std::move(steps->tasks.front());
        steps->tasks.pop_front();
        guard.unlock();
        task();
        task = nullptr;
        guard.lock();
    }
}

}  // namespace perchlight::cli
