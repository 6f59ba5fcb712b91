#pragma once

#include <nlohmann/json.hpp>

#include <atomic>
#include <functional>
#include <string>
#include <thread>

#include "util/Monitor.h"

namespace perchlight {

class AgentServices;

// One "form" question on a thread of its own: the agent's form check (browser/FormCheck) of
// the target, answered with whether to warn, the warning's message and the policy found. The
// reply leaves once, from the thread. cancel() may be called from any thread.
class FormRun {
  public:
    using Reply = std::function<void(const nlohmann::json&)>;

    FormRun(AgentServices& services, nlohmann::json id, std::string target);
    ~FormRun();
    FormRun(const FormRun&) = delete;
    FormRun& operator=(const FormRun&) = delete;

    void start(Reply reply);
    void cancel();
    bool ended() const { return ended_; }
    void join();

    // The reply fields for a target, worked out on the calling thread (the thread's body).
    static nlohmann::json answer(AgentServices& services, const std::string& target,
                                 const std::atomic<bool>& cancelled);

  private:
    AgentServices& services_;
    const nlohmann::json id_;
    const std::string target_;
    Monitor monitor_;
    std::atomic<bool> cancelled_{false};
    std::atomic<bool> ended_{false};
    std::thread thread_;
};

}  // namespace perchlight
