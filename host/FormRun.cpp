#include "host/FormRun.h"

#include "browser/FormCheck.h"
#include "host/RunThread.h"
#include "retrieval/CheckRegistry.h"

namespace perchlight {

using nlohmann::json;

FormRun::FormRun(AgentServices& services, json id, std::string target)
    : services_(services), id_(std::move(id)), target_(std::move(target)) {}

FormRun::~FormRun() {
    cancel();
    join();
}

json FormRun::answer(AgentServices& services, const std::string& target,
                     const std::atomic<bool>& cancelled) {
    if (FormCheck::skipsWarning(services, target)) {
        return json{{"warn", false}, {"message", ""}, {"policy", ""}};
    }
    const std::optional<Url> url = FormCheck::targetUrl(target);
    int code = -1;
    MatchResult result;
    if (url) {
        result.requestUri = *url;
        try {
            code = FormCheck::run(services, *url, cancelled, result);
        } catch (...) {
            // A site that serves no usable policy, a failed or stopped download: no usable policy.
            code = -1;
        }
    }
    if (code == 0) {
        return json{{"warn", false}, {"message", ""}, {"policy", result.policyUrl.str()}};
    }
    const std::string_view message =
        code > 0 ? FormCheck::kNoMatchMessage : FormCheck::kNoPolicyMessage;
    return json{{"warn", true},
                {"message", std::string(message)},
                {"policy", code > 0 ? result.policyUrl.str() : std::string()}};
}

void FormRun::start(Reply reply) {
    thread_ = std::thread([this, reply = std::move(reply)] {
        CheckRegistry::registerCurrentThread(monitor_);
        json fields;
        try {
            fields = answer(services_, target_, cancelled_);
        } catch (const std::exception& error) {
            fields = json{{"warn", true},
                          {"message", std::string(FormCheck::kNoPolicyMessage)},
                          {"policy", ""}};
        }
        CheckRegistry::unregisterCurrentThread();
        fields["id"] = id_;
        fields["ok"] = true;
        if (!cancelled_) {
            reply(fields);
        }
        ended_ = true;
    });
}

void FormRun::cancel() {
    cancelled_ = true;
    MonitorLock guard(monitor_);
    monitor_.broadcast();
}

void FormRun::join() {
    joinRunThread(thread_, monitor_, ended_, cancelled_);
}

}  // namespace perchlight
