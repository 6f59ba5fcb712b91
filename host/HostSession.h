#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string_view>
#include <vector>

#include "host/FrameReader.h"
#include "host/MessageDecoder.h"

namespace perchlight {

class AgentServices;
class BirdBroadcast;
class FormRun;
class PageRun;

// Where replies go: the browser's end of the pipe, or a test's list. Called from any thread;
// implementations serialise.
class ReplySink {
  public:
    virtual ~ReplySink() = default;
    virtual void send(std::string_view reply) = 0;
};

// One browser session of the native host: reads requests, answers each through the table of
// handlers, and keeps one check state per tab as a browser window has. Checks and form questions
// run on threads of their own and answer when they end, in any order; every other request is
// answered at once. Requests arrive on one thread (the reader); replies leave from any.
class HostSession {
  public:
    // Most tabs whose results are kept; a page for one more tab forgets the oldest finished one.
    static constexpr std::size_t kMaxTabs = 256;

    HostSession(AgentServices& services, ReplySink& sink);
    ~HostSession();
    HostSession(const HostSession&) = delete;
    HostSession& operator=(const HostSession&) = delete;

    // One frame from the reader.
    void handleFrame(const Frame& frame);
    // One request's bytes.
    void handleMessage(std::string_view body);
    // The browser has gone: stops every running check and question, waits for their threads and
    // saves what the last window of the Qt agent saves (cookie history, cache index).
    void finish();

    // Where changes of the settings and the no-prompt list are announced to the Qt agent's
    // processes; none announces nothing.
    void setBroadcast(BirdBroadcast* broadcast) { broadcast_ = broadcast; }

    // The number of checks and questions whose threads have not been joined yet.
    std::size_t activeRuns();

  private:
    using Handler = std::optional<nlohmann::json> (HostSession::*)(const Request&);
    struct Tab {
        std::shared_ptr<PageRun> current;
        std::uint64_t lastUse = 0;
    };

    static const std::map<std::string_view, Handler>& handlers();
    void reply(const nlohmann::json& reply);
    void reap();
    void announce(int command);
    Tab& tabFor(std::int64_t tab);
    std::shared_ptr<PageRun> finishedRun(std::int64_t tab);

    std::optional<nlohmann::json> page(const Request& request);
    std::optional<nlohmann::json> navigate(const Request& request);
    std::optional<nlohmann::json> closed(const Request& request);
    std::optional<nlohmann::json> summary(const Request& request);
    std::optional<nlohmann::json> source(const Request& request);
    std::optional<nlohmann::json> form(const Request& request);
    std::optional<nlohmann::json> settingsGet(const Request& request);
    std::optional<nlohmann::json> settingsSet(const Request& request);
    std::optional<nlohmann::json> importRuleSet(const Request& request);
    std::optional<nlohmann::json> exportRuleSet(const Request& request);
    std::optional<nlohmann::json> noPromptList(const Request& request);
    std::optional<nlohmann::json> noPromptAdd(const Request& request);
    std::optional<nlohmann::json> noPromptRemove(const Request& request);
    std::optional<nlohmann::json> cacheClear(const Request& request);

    AgentServices& services_;
    ReplySink& sink_;
    std::map<std::int64_t, Tab> tabs_;
    std::uint64_t uses_ = 0;
    std::vector<std::shared_ptr<PageRun>> pageRuns_;
    std::vector<std::shared_ptr<FormRun>> formRuns_;
    BirdBroadcast* broadcast_ = nullptr;
    bool finished_ = false;
};

// Fits a reply under kMaxReplyBytes: a long "html" or "text" is cut with a note, a long "items"
// list is shortened and marked "truncated"; anything else too large becomes an error reply.
std::string fitReply(nlohmann::json reply);

}  // namespace perchlight
