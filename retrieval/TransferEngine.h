#pragma once

#include <curl/curl.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

namespace perchlight {

struct CurlDeleter {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
// An easy handle, cleaned up when it goes.
using CurlHandle = std::unique_ptr<CURL, CurlDeleter>;

// Runs every download of the process on one event thread over libcurl's multi interface (its
// socket interface over epoll), so a transfer costs no thread of its own and transfers to one
// site share its keep-alive connections (the multi handle's connection cache and DNS cache).
// Names are resolved by libcurl's threaded resolver, Debian's build: a short-lived thread per
// lookup that the cache does not answer. Connections are bounded per host and in
// all; transfers past a bound wait in libcurl's queue. The thread starts with the first transfer
// and lives for the process. Thread-safe.
class TransferEngine {
  public:
    // Connections open at once to one host (host name and port), as a browser keeps them.
    static constexpr long kMaxHostConnections = 6;
    // Connections open at once in all, and idle ones kept for reuse.
    static constexpr long kMaxConnections = 1000;
    // Seconds a resolved host name is kept (libcurl's default is 60). libcurl looks through its
    // whole DNS cache to prune it on every lookup, so a survey's thousands of names would make
    // each lookup cost more than the check; a few seconds still cover a page and its documents.
    static constexpr long kDnsCacheSeconds = 5;

    // Called on the event thread once the transfer has ended, with the handle (for its
    // information) and libcurl's result. Must not throw and must return soon.
    using Finished = std::function<void(CURL*, CURLcode)>;

    // Starts the prepared transfer. keepAlive holds what the handle's callbacks write into; it
    // is released after finished ran, or once the transfer was cancelled. The transfer's id.
    static std::uint64_t start(CurlHandle handle, std::shared_ptr<void> keepAlive,
                               Finished finished);
    // Removes the transfer at the event thread's next turn, closing its connection; finished is
    // not called for it. Nothing happens for a transfer that has ended.
    static void cancel(std::uint64_t id);
    // Transfers started and not yet ended or cancelled and removed.
    static int active();
    // Closes the idle connections kept for reuse (at the end of a survey, say) when no transfer
    // runs; false, closing nothing, while one does. Transfers started later open new ones.
    static bool closeIdleConnections();
};

}  // namespace perchlight
