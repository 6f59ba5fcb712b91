#include "retrieval/HttpClient.h"

#include <curl/curl.h>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <new>

#include "retrieval/CheckRegistry.h"
#include "retrieval/RequestTally.h"
#include "retrieval/TransferEngine.h"
#include "util/Error.h"
#include "util/Monitor.h"

namespace perchlight {
namespace {

constexpr const char* kUnit = "HttpClient";
constexpr const char* kWebProtocols = "http,https";

std::atomic<long long> checkWaitMilliseconds{HttpClient::kCheckWait.count()};
std::atomic<std::size_t> bufferedBytes{0};

// A probe takes the headers and nothing of the body.
std::size_t refuseBody(char*, std::size_t, std::size_t, void*) {
    return 0;
}

// The header probe's progress callback: aborts once the check it belongs to no longer runs.
int abortWhenStopped(void* running, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    return static_cast<const std::atomic<bool>*>(running)->load() ? 0 : 1;
}

bool isSuccess(long status) {
    return status >= 200 && status <= 299;
}

// Options every transfer carries: a plain GET that cannot wait or grow without end.
CurlHandle newTransfer(const std::string& url, TextBuffer& headerBuffer) {
    CurlHandle handle = TransferEngine::newHandle();
    if (!handle) {
        return handle;
    }
    CURL* h = handle.get();
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_URL, url.c_str());
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, kWebProtocols);
    curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, kWebProtocols);
    curl_easy_setopt(h, CURLOPT_MAXREDIRS, HttpClient::kMaxRedirects);
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT, HttpClient::kConnectTimeoutSeconds);
    curl_easy_setopt(h, CURLOPT_TIMEOUT, HttpClient::kTotalTimeoutSeconds);
    curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, &HttpClient::appendToBuffer);
    curl_easy_setopt(h, CURLOPT_HEADERDATA, &headerBuffer);
    return handle;
}

// What the waiting thread and the event thread share. Held by both, so a transfer that its
// check gave up on can be removed without the check.
struct TransferContext {
    TransferContext()
        : bodyBuffer(HttpClient::kMaxBodyBytes), headerBuffer(HttpClient::kMaxHeaderBytes, false) {}

    Monitor* checkMonitor = nullptr;        // guarded by lock; dropped when the check gives up
    std::shared_ptr<Monitor> batchMonitor;  // a batch's own, outside a check: kept alive here
    // A batch's count of the deliveries that have woken its monitor, guarded by that monitor.
    std::shared_ptr<std::size_t> batchWakes;
    TextBuffer bodyBuffer;    // written by the event thread until delivered
    TextBuffer headerBuffer;  // written by the event thread until delivered
    std::optional<std::string> body;
    std::string headers;
    std::string finalUrl;  // where the redirects ended
    Monitor lock;
    bool delivered = false;  // guarded by lock
    // Called on the event thread once delivered, outside the locks; set before the start.
    std::function<void()> onDelivered;
};

// On the event thread, once the transfer has ended.
void deliver(TransferContext& context, CURL* handle, CURLcode outcome) {
    long status = 0;
    curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status);
    char* effective = nullptr;
    std::string finalUrl;
    if (curl_easy_getinfo(handle, CURLINFO_EFFECTIVE_URL, &effective) == CURLE_OK &&
        effective != nullptr) {
        finalUrl = effective;
    }
    Monitor* checkMonitor = nullptr;
    {
        MonitorLock guard(context.lock);
        context.headers = std::move(context.headerBuffer.data);
        context.finalUrl = std::move(finalUrl);
        // A transfer cut short (closed early, a broken chunked body, a time-out) holds part of a
        // document at best, which must not pass for the whole of it.
        if (outcome == CURLE_OK && !context.bodyBuffer.overflowed &&
            !context.bodyBuffer.data.empty() && isSuccess(status)) {
            context.body = std::move(context.bodyBuffer.data);
        }
        context.bodyBuffer.data.clear();
        context.delivered = true;
        context.lock.broadcast();
        checkMonitor = context.checkMonitor;
    }
    if (checkMonitor != nullptr) {
        MonitorLock guard(*checkMonitor);
        if (context.batchWakes) {
            ++*context.batchWakes;
        }
        checkMonitor->broadcast();
    }
    if (context.onDelivered) {
        context.onDelivered();
    }
}

bool isDelivered(TransferContext& context) {
    MonitorLock guard(context.lock);
    return context.delivered;
}

// Leaves the transfer: it no longer touches the check, whose monitor may be gone by then, and
// the engine removes it at once. False when it had delivered already.
bool abandon(TransferContext& context, std::uint64_t transfer) {
    {
        MonitorLock guard(context.lock);
        if (context.delivered) {
            return false;
        }
        context.checkMonitor = nullptr;
    }
    TransferEngine::cancel(transfer);
    return true;
}

// Hands the download of the URL to the engine; false when no transfer could be made.
bool startDownload(const std::string& url, const std::shared_ptr<TransferContext>& context,
                   std::uint64_t& transfer) {
    RequestTally::count();
    CurlHandle handle = newTransfer(url, context->headerBuffer);
    if (!handle) {
        return false;
    }
    CURL* h = handle.get();
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &HttpClient::appendToBuffer);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &context->bodyBuffer);
    TransferContext* const shared = context.get();
    transfer = TransferEngine::start(
        std::move(handle), context,
        [shared](CURL* done, CURLcode outcome) { deliver(*shared, done, outcome); });
    return true;
}

}  // namespace

TextBuffer::~TextBuffer() {
    bufferedBytes.fetch_sub(counted);
}

std::size_t TextBuffer::buffered() {
    return bufferedBytes.load();
}

std::size_t HttpClient::appendToBuffer(char* chunk, std::size_t size, std::size_t count,
                                       void* buffer) {
    TextBuffer& text = *static_cast<TextBuffer*>(buffer);
    const std::size_t length = size * count;
    if (text.overflowed || length > text.limit - text.data.size()) {
        text.overflowed = true;
        return 0;
    }
    if (text.bound) {
        if (bufferedBytes.fetch_add(length) + length > TextBuffer::kMaxBufferedBytes) {
            bufferedBytes.fetch_sub(length);
            text.overflowed = true;
            return 0;
        }
        text.counted += length;
    }
    try {
        text.data.append(chunk, length);
    } catch (const std::bad_alloc&) {
        text.overflowed = true;
        return 0;
    }
    return length;
}

bool HttpClient::fetchHeaders(const std::string& url, std::string& headers,
                              const std::atomic<bool>* running) {
    // The probe runs on the engine like every download; the caller waits for it, and running
    // (which outlives the wait) stops it from the engine's side.
    auto context = std::make_shared<TransferContext>();
    RequestTally::count();
    if (CurlHandle handle = newTransfer(url, context->headerBuffer)) {
        CURL* h = handle.get();
        curl_easy_setopt(h, CURLOPT_TIMEOUT, kProbeTimeoutSeconds);
        curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &refuseBody);
        if (running != nullptr) {
            curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
            curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, &abortWhenStopped);
            curl_easy_setopt(h, CURLOPT_XFERINFODATA, running);
        } else {
            curl_easy_setopt(h, CURLOPT_NOPROGRESS, 1L);
        }
        TransferContext* const shared = context.get();
        TransferEngine::start(std::move(handle), context, [shared](CURL* done, CURLcode outcome) {
            deliver(*shared, done, outcome);
        });
        MonitorLock guard(context->lock);
        while (!context->delivered) {
            context->lock.wait();
        }
        headers = std::move(context->headers);
    }
    return true;
}

std::optional<std::string> HttpClient::fetchDocument(const std::string& url, std::string& headers,
                                                     bool headersOnly, std::string* finalUrl) {
    if (headersOnly) {
        fetchHeaders(url, headers);
        return std::nullopt;
    }
    if (url.empty()) {
        return std::nullopt;
    }
    auto context = std::make_shared<TransferContext>();
    Monitor* const checkMonitor = CheckRegistry::monitorForCurrentThread();
    context->checkMonitor = checkMonitor;
    std::uint64_t transfer = 0;
    if (!startDownload(url, context, transfer)) {
        return std::nullopt;
    }
    if (checkMonitor != nullptr) {
        {
            MonitorLock guard(*checkMonitor);
            if (!isDelivered(*context)) {
                checkMonitor->waitFor(checkWait());
            }
        }
        if (abandon(*context, transfer)) {
            PERCHLIGHT_RAISE(kStopMessage, kUnit);
        }
    } else {
        MonitorLock guard(context->lock);
        while (!context->delivered) {
            context->lock.wait();
        }
    }
    MonitorLock guard(context->lock);
    headers = std::move(context->headers);
    if (finalUrl != nullptr) {
        *finalUrl = std::move(context->finalUrl);
    }
    return std::move(context->body);
}

std::vector<HttpClient::Download> HttpClient::fetchDocuments(const std::vector<std::string>& urls) {
    Monitor* const checkMonitor = CheckRegistry::monitorForCurrentThread();
    // Outside a check the batch waits on a monitor of its own, which every transfer keeps
    // alive: the event thread may still be waking it as the batch returns.
    const std::shared_ptr<Monitor> batchMonitor =
        checkMonitor == nullptr ? std::make_shared<Monitor>() : nullptr;
    Monitor& monitor = checkMonitor != nullptr ? *checkMonitor : *batchMonitor;
    // A wake is told from a delivery by the count each delivery raises as it wakes the monitor:
    // a delivery marked done but not yet waking must not look like a cancellation.
    const auto wakes = std::make_shared<std::size_t>(0);
    std::vector<std::shared_ptr<TransferContext>> contexts;
    std::vector<std::uint64_t> transfers;
    std::size_t started = 0;
    for (const std::string& url : urls) {
        auto context = std::make_shared<TransferContext>();
        context->checkMonitor = &monitor;
        context->batchMonitor = batchMonitor;
        context->batchWakes = wakes;
        std::uint64_t transfer = 0;
        if (url.empty() || !startDownload(url, context, transfer)) {
            context->delivered = true;  // nothing to wait for: no document
        } else {
            ++started;
        }
        contexts.push_back(std::move(context));
        transfers.push_back(transfer);
    }
    bool stopped = false;
    {
        MonitorLock guard(monitor);
        std::size_t seen = *wakes;
        while (seen < started) {
            monitor.waitFor(checkWait());
            const std::size_t now = *wakes;
            if (now == seen && checkMonitor != nullptr) {
                stopped = true;
                break;
            }
            seen = now;
        }
    }
    if (stopped) {
        bool abandoned = false;
        for (std::size_t i = 0; i < contexts.size(); ++i) {
            abandoned = abandon(*contexts[i], transfers[i]) || abandoned;
        }
        if (abandoned) {
            PERCHLIGHT_RAISE(kStopMessage, kUnit);
        }
    }
    std::vector<Download> downloads;
    for (const std::shared_ptr<TransferContext>& context : contexts) {
        MonitorLock guard(context->lock);
        downloads.push_back({std::move(context->body), std::move(context->headers)});
    }
    return downloads;
}

struct HttpClient::Batch {
    std::mutex lock;
    std::vector<std::shared_ptr<TransferContext>> contexts;  // set before the first start
    std::vector<std::uint64_t> transfers;                    // guarded by lock
    std::size_t left = 0;                                    // guarded by lock
    bool ended = false;                                      // guarded by lock: done or cancelled
    bool calling = false;                                    // guarded by lock: done runs now
    std::condition_variable called;
    BatchDone done;  // guarded by lock
};

std::shared_ptr<HttpClient::Batch> HttpClient::startDocuments(const std::vector<std::string>& urls,
                                                              BatchDone done) {
    auto batch = std::make_shared<Batch>();
    batch->done = std::move(done);
    for (std::size_t i = 0; i < urls.size(); ++i) {
        batch->contexts.push_back(std::make_shared<TransferContext>());
    }
    const auto finish = [](Batch& ending) {
        BatchDone done;
        {
            std::lock_guard<std::mutex> guard(ending.lock);
            if (ending.ended || ending.left > 0) {
                return;
            }
            ending.ended = true;
            ending.calling = true;
            done = std::move(ending.done);
        }
        std::vector<Download> downloads;
        for (const std::shared_ptr<TransferContext>& context : ending.contexts) {
            MonitorLock guard(context->lock);
            downloads.push_back({std::move(context->body), std::move(context->headers)});
        }
        done(std::move(downloads));
        done = nullptr;
        {
            std::lock_guard<std::mutex> guard(ending.lock);
            ending.calling = false;
        }
        ending.called.notify_all();
    };
    {
        // Deliveries wait for every start, so the count is whole before one can reach zero.
        std::lock_guard<std::mutex> guard(batch->lock);
        batch->left = urls.size();
        batch->transfers.assign(urls.size(), 0);
    }
    Batch* const shared = batch.get();
    for (std::size_t i = 0; i < urls.size(); ++i) {
        TransferContext& context = *batch->contexts[i];
        // The caller keeps the batch alive until its done has run or it was cancelled.
        context.onDelivered = [weak = std::weak_ptr<Batch>(batch), finish] {
            const std::shared_ptr<Batch> ending = weak.lock();
            if (!ending) {
                return;
            }
            {
                std::lock_guard<std::mutex> guard(ending->lock);
                --ending->left;
            }
            finish(*ending);
        };
        std::uint64_t transfer = 0;
        if (urls[i].empty() || !startDownload(urls[i], batch->contexts[i], transfer)) {
            context.onDelivered = nullptr;
            std::lock_guard<std::mutex> guard(batch->lock);
            --batch->left;  // nothing to wait for: no document
        } else {
            std::lock_guard<std::mutex> guard(batch->lock);
            batch->transfers[i] = transfer;
        }
    }
    finish(*shared);
    return batch;
}

bool HttpClient::cancelBatch(const std::shared_ptr<Batch>& batch) {
    std::vector<std::uint64_t> transfers;
    {
        std::unique_lock<std::mutex> guard(batch->lock);
        if (batch->ended) {
            batch->called.wait(guard, [&batch] { return !batch->calling; });
            return false;
        }
        batch->ended = true;
        batch->done = nullptr;
        transfers = batch->transfers;
    }
    for (std::size_t i = 0; i < transfers.size(); ++i) {
        if (transfers[i] != 0) {
            abandon(*batch->contexts[i], transfers[i]);
        }
    }
    return true;
}

std::chrono::milliseconds HttpClient::checkWait() {
    return std::chrono::milliseconds(checkWaitMilliseconds.load());
}

void HttpClient::setCheckWaitForTesting(std::chrono::milliseconds wait) {
    checkWaitMilliseconds = wait.count();
}

int HttpClient::activeTransfers() {
    return TransferEngine::active();
}

}  // namespace perchlight
