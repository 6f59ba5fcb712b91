#pragma once

#include <curl/curl.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

namespace perchlight {

// A handle whose options were reset would have libcurl ignore SIGPIPE around its cleanup, and
// each change of a signal's action to "ignore" makes the kernel walk every thread of the process
// (a survey has a thousand); cleaning up sends nothing, so it runs without that, as the
// transfers did.
struct CurlDeleter {
    void operator()(CURL* handle) const {
        curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
        curl_easy_cleanup(handle);
    }
};
// An easy handle, cleaned up when it goes.
using CurlHandle = std::unique_ptr<CURL, CurlDeleter>;

// Runs every download of the process on one event thread over libcurl's multi interface (its
// socket interface over epoll), so a transfer costs no thread of its own and transfers to one
// site share its keep-alive connections (the multi handle's connection cache and DNS cache, or a
// ConnectionGroup's). Names are resolved by libcurl's threaded resolver, Debian's build: a
// short-lived thread per lookup that the cache does not answer. Transfers running at once are
// bounded per host and in all, and so are the connections they use; transfers past a bound wait
// in the engine's queue, in the order they were started, without counting against libcurl's
// time-outs. The thread starts with the first transfer and lives for the process. Thread-safe.
class TransferEngine {
  public:
    // Transfers (and so connections) at once to one host (the host name and port of the address
    // a transfer starts from), as a browser keeps them.
    static constexpr long kMaxHostConnections = 6;
    // Transfers running at once in all, and idle connections the multi handle keeps for reuse.
    static constexpr long kMaxConnections = 1000;
    // Seconds a resolved host name is kept (libcurl's default is 60). libcurl looks through its
    // whole DNS cache to prune it on every lookup, so a survey's thousands of names would make
    // each lookup cost more than the check; a few seconds still cover a page and its documents.
    static constexpr long kDnsCacheSeconds = 5;

    // Called on the event thread once the transfer has ended, with the handle (for its
    // information) and libcurl's result. Must not throw and must return soon.
    using Finished = std::function<void(CURL*, CURLcode)>;

    // An easy handle to prepare a transfer on: one that an ended transfer left, its options back
    // at libcurl's defaults and detached from any group, or a new one. Making a handle costs an
    // allocation of its buffers, and each of a survey's thousands of transfers would make its
    // own on one thread and free it on the event thread. Sets up libcurl's global state first.
    static CurlHandle newHandle();

    // Starts the prepared transfer (made by newHandle). keepAlive holds what the handle's
    // callbacks write into; it is released after finished ran, or once the transfer was
    // cancelled. The transfer's id.
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

// The connections and resolved names of one piece of work, such as a survey's check of one
// site: the transfers started on a thread while a Scope of the group lives reuse each other's
// connections and names and nobody else's, and those connections close once the group and its
// last transfer are gone. libcurl looks through its caches of connections and names at every
// transfer (to prune them, to find the oldest idle connection), so the multi handle's caches
// would make a long survey's transfers cost more with every site it has seen; a group's stay as
// small as one site's work. The engine's bounds per host and in all still hold across groups.
class ConnectionGroup {
  public:
    struct Share;

    ConnectionGroup();
    ~ConnectionGroup();
    ConnectionGroup(const ConnectionGroup&) = delete;
    ConnectionGroup& operator=(const ConnectionGroup&) = delete;

    // Puts the transfers started on the calling thread into the group; the previous group (or
    // none) comes back when the Scope goes.
    class Scope {
      public:
        explicit Scope(ConnectionGroup& group);
        ~Scope();
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;

      private:
        ConnectionGroup* previous_;
    };

    // libcurl's share of the group, held by each of its transfers until that one ends; null when
    // libcurl could not make one (the transfers then use the multi handle's caches).
    const std::shared_ptr<Share>& share() const { return share_; }

  private:
    std::shared_ptr<Share> share_;
};

}  // namespace perchlight
