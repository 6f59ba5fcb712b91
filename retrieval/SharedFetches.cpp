#include "retrieval/SharedFetches.h"

#include <condition_variable>
#include <vector>

#include "retrieval/CheckRegistry.h"
#include "retrieval/HttpClient.h"
#include "util/BlockingWait.h"
#include "util/Error.h"
#include "util/Monitor.h"

namespace perchlight {
namespace {

constexpr const char* kUnit = "SharedFetches";

// A waiting check thread's monitor, which the leader may wake only while the waiter is there.
struct Waiter {
    explicit Waiter(Monitor& checkMonitor) : monitor(checkMonitor) {}
    Monitor& monitor;
    std::mutex lock;
    bool gone = false;  // guarded by lock
};

}  // namespace

struct SharedFetches::Flight {
    std::mutex lock;
    std::condition_variable landed;
    bool done = false;                             // guarded by lock
    bool abandoned = false;                        // guarded by lock: the leader was stopped
    Outcome outcome;                               // guarded by lock
    std::exception_ptr error;                      // guarded by lock
    std::vector<std::shared_ptr<Waiter>> waiters;  // guarded by lock
    std::vector<Landed> landedCalls;               // guarded by lock
    int following = 0;                             // guarded by lock
};

int SharedFetches::waiting(const std::string& url) {
    std::shared_ptr<Flight> flight;
    {
        std::lock_guard<std::mutex> guard(lock_);
        const auto found = flights_.find(url);
        if (found == flights_.end()) {
            return 0;
        }
        flight = found->second;
    }
    std::lock_guard<std::mutex> guard(flight->lock);
    return flight->following;
}

SharedFetches::Outcome SharedFetches::fetchOnce(const std::string& url, const Fetch& fetch) {
    for (;;) {
        std::shared_ptr<Flight> flight;
        bool leader = false;
        {
            std::lock_guard<std::mutex> guard(lock_);
            std::shared_ptr<Flight>& slot = flights_[url];
            if (!slot) {
                slot = std::make_shared<Flight>();
                leader = true;
            }
            flight = slot;
        }
        if (leader) {
            return lead(url, flight, fetch);
        }
        if (std::optional<Outcome> shared = follow(*flight)) {
            return *shared;
        }
    }
}

SharedFetches::Lead SharedFetches::tryLead(const std::string& url) {
    std::lock_guard<std::mutex> guard(lock_);
    std::shared_ptr<Flight>& slot = flights_[url];
    if (slot) {
        return nullptr;
    }
    slot = std::make_shared<Flight>();
    return slot;
}

void SharedFetches::land(const std::string& url, const Lead& lead, const Outcome& outcome) {
    {
        std::lock_guard<std::mutex> guard(lead->lock);
        lead->outcome = outcome;
    }
    land(url, *lead);
}

void SharedFetches::abandon(const std::string& url, const Lead& lead) {
    {
        std::lock_guard<std::mutex> guard(lead->lock);
        lead->abandoned = true;
    }
    land(url, *lead);
}

SharedFetches::Outcome SharedFetches::lead(const std::string& url,
                                           const std::shared_ptr<Flight>& flight,
                                           const Fetch& fetch) {
    try {
        Outcome outcome = fetch();
        {
            std::lock_guard<std::mutex> guard(flight->lock);
            flight->outcome = outcome;
        }
        land(url, *flight);
        return outcome;
    } catch (const Error& error) {
        {
            std::lock_guard<std::mutex> guard(flight->lock);
            if (isStop(error)) {
                flight->abandoned = true;
            } else {
                flight->error = std::current_exception();
            }
        }
        land(url, *flight);
        throw;
    }
}

void SharedFetches::land(const std::string& url, Flight& flight) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        flights_.erase(url);
    }
    std::vector<std::shared_ptr<Waiter>> waiters;
    std::vector<Landed> landedCalls;
    {
        std::lock_guard<std::mutex> guard(flight.lock);
        flight.done = true;
        waiters = flight.waiters;
        landedCalls.swap(flight.landedCalls);
    }
    flight.landed.notify_all();
    // Nothing writes the outcome once the flight is done.
    const Outcome* const outcome = flight.abandoned || flight.error ? nullptr : &flight.outcome;
    for (const Landed& landed : landedCalls) {
        landed(outcome);
    }
    for (const std::shared_ptr<Waiter>& waiter : waiters) {
        std::lock_guard<std::mutex> guard(waiter->lock);
        if (!waiter->gone) {
            MonitorLock monitorGuard(waiter->monitor);
            waiter->monitor.broadcast();
        }
    }
}

bool SharedFetches::whenLanded(const std::string& url, Landed landed) {
    std::shared_ptr<Flight> flight;
    {
        std::lock_guard<std::mutex> guard(lock_);
        const auto found = flights_.find(url);
        if (found == flights_.end()) {
            return false;
        }
        flight = found->second;
    }
    std::lock_guard<std::mutex> guard(flight->lock);
    if (flight->done) {
        return false;
    }
    flight->landedCalls.push_back(std::move(landed));
    return true;
}

std::optional<SharedFetches::Outcome> SharedFetches::follow(Flight& flight) {
    Monitor* const checkMonitor = CheckRegistry::monitorForCurrentThread();
    {
        std::lock_guard<std::mutex> guard(flight.lock);
        ++flight.following;
    }
    if (checkMonitor == nullptr) {
        const BlockingWait mark;
        std::unique_lock<std::mutex> guard(flight.lock);
        flight.landed.wait(guard, [&flight] { return flight.done; });
    } else {
        auto waiter = std::make_shared<Waiter>(*checkMonitor);
        {
            MonitorLock monitorGuard(*checkMonitor);
            bool done = false;
            {
                std::lock_guard<std::mutex> guard(flight.lock);
                done = flight.done;
                if (!done) {
                    flight.waiters.push_back(waiter);
                }
            }
            if (!done) {
                checkMonitor->waitFor(HttpClient::checkWait());
            }
        }
        {
            std::lock_guard<std::mutex> guard(waiter->lock);
            waiter->gone = true;
        }
        std::lock_guard<std::mutex> guard(flight.lock);
        if (!flight.done) {
            PERCHLIGHT_RAISE(kStopMessage, kUnit);  // cancelled, or the check wait ran out
        }
    }
    std::lock_guard<std::mutex> guard(flight.lock);
    if (flight.abandoned) {
        return std::nullopt;
    }
    if (flight.error) {
        std::rethrow_exception(flight.error);
    }
    return flight.outcome;
}

}  // namespace perchlight
