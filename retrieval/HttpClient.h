#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace perchlight {

// Bytes received in one direction of one transfer, up to a limit past which the transfer is
// aborted. What all body buffers of the process hold at once is bounded too (kMaxBufferedBytes):
// a transfer whose body would pass that bound is aborted as one past its own limit, so a
// thousand hostile sites sending huge bodies at once cannot take gigabytes. Header buffers are
// small and left out, so that a status and its redirects are always read whole.
struct TextBuffer {
    static constexpr std::size_t kMaxBufferedBytes = 256 * 1024 * 1024;

    explicit TextBuffer(std::size_t byteLimit, bool processBound = true)
        : limit(byteLimit), bound(processBound) {}
    ~TextBuffer();
    TextBuffer(const TextBuffer&) = delete;
    TextBuffer& operator=(const TextBuffer&) = delete;

    // Bytes that the buffers of the process have taken and not given back.
    static std::size_t buffered();

    std::string data;
    std::size_t limit = 0;
    bool overflowed = false;
    bool bound = true;        // counted against kMaxBufferedBytes
    std::size_t counted = 0;  // this buffer's share of buffered(), until it goes
};

// HTTP and HTTPS retrieval: header probes and full downloads on the transfer engine's event
// thread (TransferEngine), which the calling thread waits for, one at a time or many at once. Every
// transfer is bounded in time and size and follows redirects only to http and https.
// Thread-safe; each transfer has its own handle.
class HttpClient {
  public:
    static constexpr long kConnectTimeoutSeconds = 30;
    static constexpr long kTotalTimeoutSeconds = 300;
    static constexpr long kMaxRedirects = 20;
    // A header probe is waited for to its end (its check's running flag stops it), so it is
    // bounded more tightly than a download, which the check can abandon.
    static constexpr long kProbeTimeoutSeconds = 30;
    // Policies, reference files and schemas are kilobytes; a longer body counts as none.
    static constexpr std::size_t kMaxBodyBytes = 4 * 1024 * 1024;
    // Header text of one transfer, redirects included; past it the transfer is aborted.
    static constexpr std::size_t kMaxHeaderBytes = 256 * 1024;
    // How long a check waits for its download before it gives up.
    static constexpr std::chrono::milliseconds kCheckWait{300000};

    // The raw response header text of the URL (status line, header lines, blank line, each with
    // CR LF), or empty when nothing arrived. The transfer stops at the first body byte, after
    // kProbeTimeoutSeconds, or as soon as running (when given) turns false.
    static bool fetchHeaders(const std::string& url, std::string& headers,
                             const std::atomic<bool>* running = nullptr);

    // Downloads the URL. On a registered check thread it waits on the check's monitor and raises
    // "STOP" when the check is cancelled or the check wait runs out; the transfer is then
    // removed at once, its connection closed. None for an empty URL, for headersOnly (after a
    // header probe), for an empty body, for a body past the limit, for a transfer that did not
    // complete (closed early, a malformed chunked body) and for a final status outside 200-299 (an
    // error page is no document); the header text arrives in every case but the first. finalUrl,
    // when given, receives the URL the redirects ended at (empty when nothing was transferred).
    static std::optional<std::string> fetchDocument(const std::string& url, std::string& headers,
                                                    bool headersOnly = false,
                                                    std::string* finalUrl = nullptr);

    // One download of a batch: the body (none as for fetchDocument) and the raw header text.
    struct Download {
        std::optional<std::string> body;
        std::string headers;
    };
    // Downloads every URL at once on the transfer engine and waits for all of them, with
    // fetchDocument's limits and results for each, in the order asked. On a registered check
    // thread a wake of the check's monitor that brought no download raises "STOP", as does the
    // check wait running out with no download ending; the transfers still running are then
    // removed at once.
    static std::vector<Download> fetchDocuments(const std::vector<std::string>& urls);

    // The same downloads without a thread waiting for them: done gets them, in the order asked,
    // on the event thread once the last has ended (on the calling thread when none started), so
    // it must not throw and must return soon. The batch comes back for cancelBatch.
    struct Batch;
    using BatchDone = std::function<void(std::vector<Download>)>;
    static std::shared_ptr<Batch> startDocuments(const std::vector<std::string>& urls,
                                                 BatchDone done);
    // Removes the batch's transfers still running, closing their connections, and true: its
    // done will not be called. False when done has been called; one being called is waited for.
    static bool cancelBatch(const std::shared_ptr<Batch>& batch);

    // The libcurl write and header callback: appends the chunk, or aborts the transfer (returns
    // 0) when the buffer's limit would be passed or the bytes cannot be stored.
    static std::size_t appendToBuffer(char* chunk, std::size_t size, std::size_t count,
                                      void* buffer);

    // The wait of a check for its download: kCheckWait unless a test has shortened it.
    static std::chrono::milliseconds checkWait();
    static void setCheckWaitForTesting(std::chrono::milliseconds wait);

    // Downloads still running, abandoned ones not yet removed included.
    static int activeTransfers();
};

}  // namespace perchlight
