#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>

namespace perchlight {

// Why a transfer brought no answer at all.
enum class TransportFailure { kNone, kDns, kConnect, kTimeout, kTls, kOther };

// Everything a survey wants to know about one retrieval: where the redirects ended, the final
// status and, when nothing answered, why.
struct FetchOutcome {
    std::string finalUrl;  // after redirects; the URL asked for when nothing answered
    long status = 0;       // the final HTTP status; 0 when no response arrived
    TransportFailure failure = TransportFailure::kNone;
    // libcurl's reason for a failure: the system's error text when a system call failed (such
    // as "Connection refused"), else libcurl's own message; empty without a failure.
    std::string reason;
    std::string headers;              // raw header text of every response in the chain
    std::optional<std::string> body;  // only for a complete answer with a 2xx status
};

// The header text of the last response in raw header text of a chain of responses (redirects
// first): from its status line on.
std::string lastResponseHeaders(const std::string& chain);

// A retrieval that the calling thread waits for (it runs on the transfer engine) and that reports
// its outcome instead of hiding it: for the page a survey reads and for finding out why a policy
// could not be had. Same limits as HttpClient's
// downloads (http and https only, bounded redirects, header and body sizes), with a time-out
// of the caller's. Counted by RequestTally. Thread-safe.
class PageFetch {
  public:
    static FetchOutcome fetch(const std::string& url, std::chrono::milliseconds timeout);

    // The same retrieval without a thread waiting for it: done gets the outcome on the transfer
    // engine's event thread (so it must not throw and must return soon), or on the calling
    // thread when no transfer could be made.
    using Done = std::function<void(FetchOutcome)>;
    static void start(const std::string& url, std::chrono::milliseconds timeout, Done done);
};

}  // namespace perchlight
