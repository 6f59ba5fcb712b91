#pragma once

#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace perchlight {

// Lets one download of a document serve every thread that asks for it while it runs: the first
// asker fetches, later askers wait for its outcome (the text and headers, or the error it
// raised) instead of fetching the same document again. No lock is held during the download.
// A waiter on a check thread waits on its check monitor, so a cancelled check stops waiting with
// "STOP" at once, and gives up with "STOP" after the check wait as a download of its own would.
// When the fetching check is cancelled, the waiters fetch for themselves. Thread-safe.
class SharedFetches {
  public:
    // What one fetch gave: the text, the raw response headers and, for a text that could not be
    // taken (such as one that is no XML), the error to raise after the headers were read.
    // dropped holds a body that arrived but is not handed on (no XML, expired already), so that
    // the reason can still be told; cached says whether the cache now answers for the URL.
    struct Outcome {
        std::optional<std::string> text;
        std::string headers;
        std::exception_ptr error;
        std::optional<std::string> dropped;
        bool cached = false;
    };
    using Fetch = std::function<Outcome()>;

    SharedFetches() = default;
    SharedFetches(const SharedFetches&) = delete;
    SharedFetches& operator=(const SharedFetches&) = delete;

    // The outcome of fetch for the URL, run here or by the thread already running it.
    Outcome fetchOnce(const std::string& url, const Fetch& fetch);
    // How many threads wait for the fetch of the URL now running (0 when none runs).
    int waiting(const std::string& url);

    // For a caller that fetches many documents at once itself: takes the lead of the URL's
    // fetch unless one runs already, in which case it gives null (a later fetchOnce follows
    // that one). A lead taken must be ended by exactly one of land or abandon.
    struct Flight;
    using Lead = std::shared_ptr<Flight>;
    Lead tryLead(const std::string& url);
    // Hands the outcome to the threads that wait for it.
    void land(const std::string& url, const Lead& lead, const Outcome& outcome);
    // The leader was stopped: the waiters fetch for themselves.
    void abandon(const std::string& url, const Lead& lead);

    // For a caller that does not wait on a thread: when a fetch of the URL runs, landed is called
    // once it ends, with its outcome (null when its leader was stopped or it raised), on the
    // thread that ends it and outside every lock, and true comes back; false, with nothing
    // kept, when none runs. landed must not throw.
    using Landed = std::function<void(const Outcome*)>;
    bool whenLanded(const std::string& url, Landed landed);

  private:
    Outcome lead(const std::string& url, const std::shared_ptr<Flight>& flight, const Fetch& fetch);
    // The leader's outcome; none when the leader's check was cancelled and the caller must fetch.
    std::optional<Outcome> follow(Flight& flight);
    void land(const std::string& url, Flight& flight);

    std::mutex lock_;
    std::map<std::string, std::shared_ptr<Flight>> flights_;  // guarded by lock_
};

}  // namespace perchlight
