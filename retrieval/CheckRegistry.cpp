#include "retrieval/CheckRegistry.h"

#include <map>
#include <mutex>
#include <thread>

namespace perchlight {
namespace {

struct Registry {
    std::mutex lock;
    std::map<std::thread::id, Monitor*> monitors;
};

Registry& registry() {
    static Registry instance;
    return instance;
}

}  // namespace

void CheckRegistry::registerCurrentThread(Monitor& checkMonitor) {
    std::lock_guard guard(registry().lock);
    registry().monitors.emplace(std::this_thread::get_id(), &checkMonitor);
}

void CheckRegistry::unregisterCurrentThread() {
    std::lock_guard guard(registry().lock);
    registry().monitors.erase(std::this_thread::get_id());
}

Monitor* CheckRegistry::monitorForCurrentThread() {
    std::lock_guard guard(registry().lock);
    const auto found = registry().monitors.find(std::this_thread::get_id());
    return found == registry().monitors.end() ? nullptr : found->second;
}

}  // namespace perchlight
