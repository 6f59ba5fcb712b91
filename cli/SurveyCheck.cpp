#include "cli/SurveyCheck.h"

#include <atomic>
#include <cstdlib>
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

SurveyRecord SurveyCheck::run(const std::string& address) const {
    const Clock::time_point start = Clock::now();
    SurveyRecord record;
    record.url = address;
    record.finalUrl = address;
    record.verdict = verdictWord(kVerdictUnknown);
    RequestTally::Counter requests{0};
    RequestTally::Scope scope(&requests);
    CheckDocuments documents;
    CheckDocuments::Scope documentsScope(&documents);
    // The site's connections and names are its own and close when its check ends: a survey's
    // thousands of sites would otherwise fill the caches that every transfer looks through.
    ConnectionGroup connections;
    ConnectionGroup::Scope connectionsScope(connections);
    const auto finish = [&] {
        record.requests = requests.load();
        record.milliseconds =
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
        return record;
    };
    Url asked;
    try {
        asked = Url(address);
    } catch (const Error&) {
    }
    if (asked.protocol() != "http" && asked.protocol() != "https") {
        record.error = SurveyError::kBadAddress;
        return finish();
    }
    const FetchOutcome page = PageFetch::fetch(address, timeLimit_);
    record.httpStatus = page.status;
    if (page.failure != TransportFailure::kNone) {
        record.error = transportErrorClass(page.failure);
        return finish();
    }
    Url checked = asked;
    try {
        checked = Url(page.finalUrl);
        record.finalUrl = checked.str();
    } catch (const Error&) {
    }
    P3PMatchInfo info(services_.referenceStore(), services_.cache());
    SurveyOwner owner(info);
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
        owner.setPage(collector.collect(*page.body, checked));
    }
    const bool known = !services_.referenceStore().lookupPolicy(checked, "GET").empty();

    // The check runs here; the deadlines' thread cancels it once it outlasts the time limit.
    std::atomic<bool> cancelled{false};
    const std::uint64_t deadline =
        deadlines_->add(Clock::now() + timeLimit_, [&cancelled, &info, &owner] {
            cancelled = true;
            info.setRunning(false);
            MonitorLock guard(owner.checkMonitor());
            owner.checkMonitor().broadcast();
        });
    int code = 0;
    CheckRegistry::registerCurrentThread(owner.checkMonitor());
    try {
        code = checkPage(owner, checked, "");
    } catch (...) {
        // checkPage shows the unknown verdict for its own errors; nothing else may escape here.
    }
    CheckRegistry::unregisterCurrentThread();
    deadlines_->remove(deadline);

    const int verdict = owner.verdict();
    record.verdict = verdictWord(verdict);
    record.code = code;
    fillResults(info, record);
    const MatchResult main = info.mainResult();
    fillCompactFields(page.headers, main, record);
    if (!record.policy.empty()) {
        record.route = known                  ? SurveyRoute::kKnown
                       : !owner.linkAsked()   ? SurveyRoute::kWellKnown
                       : !owner.headerAsked() ? SurveyRoute::kLink
                                              : SurveyRoute::kHeader;
    }
    if (verdict != kVerdictUnknown) {
        return finish();
    }
    if (cancelled) {
        record.error = SurveyError::kTimeout;
    } else if (main.isTest) {
        record.error = SurveyError::kTestPolicy;
    } else if (record.policy.empty()) {
        const bool pageFailed = !isSuccess(page.status);
        record.error = pageFailed ? SurveyError::kHttpStatus : SurveyError::kNoPolicy;
    } else {
        classifyUnreadablePolicy(services_, documents, record.policy, code, timeLimit_, record);
    }
    return finish();
}

}  // namespace perchlight::cli
