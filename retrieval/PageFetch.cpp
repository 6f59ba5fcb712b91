#include "retrieval/PageFetch.h"

#include <curl/curl.h>

#include <functional>
#include <memory>
#include <system_error>

#include "retrieval/HttpClient.h"
#include "retrieval/RequestTally.h"
#include "retrieval/TransferEngine.h"
#include "util/Monitor.h"

namespace perchlight {
namespace {

constexpr const char* kWebProtocols = "http,https";

// What the calling thread and the event thread share: the buffers the transfer writes and its
// end.
struct Exchange {
    Exchange() : body(HttpClient::kMaxBodyBytes), headers(HttpClient::kMaxHeaderBytes, false) {}
    TextBuffer body;
    TextBuffer headers;
    char message[CURL_ERROR_SIZE] = "";
    Monitor lock;
    bool done = false;         // guarded by lock
    CURLcode code = CURLE_OK;  // guarded by lock
    long status = 0;           // guarded by lock
    long systemError = 0;      // guarded by lock
    std::string finalUrl;      // guarded by lock
};

TransportFailure failureOf(CURLcode code) {
    switch (code) {
        case CURLE_OK:
            return TransportFailure::kNone;
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_RESOLVE_PROXY:
            return TransportFailure::kDns;
        case CURLE_COULDNT_CONNECT:
            return TransportFailure::kConnect;
        case CURLE_OPERATION_TIMEDOUT:
            return TransportFailure::kTimeout;
        case CURLE_SSL_CONNECT_ERROR:
        case CURLE_PEER_FAILED_VERIFICATION:
        case CURLE_SSL_CERTPROBLEM:
        case CURLE_SSL_CIPHER:
        case CURLE_SSL_CACERT_BADFILE:
        case CURLE_SSL_ISSUER_ERROR:
        case CURLE_SSL_INVALIDCERTSTATUS:
        case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
            return TransportFailure::kTls;
        default:
            return TransportFailure::kOther;
    }
}

}  // namespace

std::string lastResponseHeaders(const std::string& chain) {
    for (std::size_t line = chain.size(); line > 0;) {
        line = chain.rfind("HTTP/", line - 1);
        if (line == std::string::npos) {
            break;
        }
        if (line == 0 || chain[line - 1] == '\n') {
            return chain.substr(line);
        }
    }
    return chain;
}

namespace {

// The outcome of the ended transfer, taken from the exchange (under its lock).
FetchOutcome outcomeOf(Exchange& exchange, const std::string& url) {
    FetchOutcome outcome;
    outcome.finalUrl = url;
    const CURLcode code = exchange.code;
    outcome.status = exchange.status;
    if (!exchange.finalUrl.empty()) {
        outcome.finalUrl = exchange.finalUrl;
    }
    TextBuffer& body = exchange.body;
    outcome.headers = std::move(exchange.headers.data);
    if (outcome.status == 0) {
        outcome.failure = failureOf(code);
        if (outcome.failure == TransportFailure::kNone) {
            outcome.failure = TransportFailure::kOther;
        }
    } else if (code == CURLE_OPERATION_TIMEDOUT) {
        outcome.failure = TransportFailure::kTimeout;  // the status came, the body did not
    } else if (code == CURLE_TOO_MANY_REDIRECTS) {
        // A chain of redirects that does not end (a loop, say) never reaches a page.
        outcome.failure = TransportFailure::kOther;
    }
    if (outcome.failure != TransportFailure::kNone) {
        if (exchange.systemError != 0) {
            outcome.reason =
                std::error_code(static_cast<int>(exchange.systemError), std::generic_category())
                    .message();
        } else {
            outcome.reason =
                exchange.message[0] != '\0' ? exchange.message : curl_easy_strerror(code);
        }
    }
    if (code == CURLE_OK && !body.overflowed && outcome.status >= 200 && outcome.status <= 299) {
        outcome.body = std::move(body.data);
    }
    return outcome;
}

// Starts the transfer of the URL; finished runs on the event thread once it has ended, under
// the exchange's lock. False (nothing started) when no handle could be made.
bool startTransfer(const std::string& url, std::chrono::milliseconds timeout,
                   const std::shared_ptr<Exchange>& exchange, std::function<void()> finished) {
    RequestTally::count();
    CurlHandle handle = TransferEngine::newHandle();
    if (!handle) {
        return false;
    }
    CURL* h = handle.get();
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_URL, url.c_str());
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, kWebProtocols);
    curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, kWebProtocols);
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(h, CURLOPT_MAXREDIRS, HttpClient::kMaxRedirects);
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(timeout.count()));
    curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, static_cast<long>(timeout.count()));
    curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, &HttpClient::appendToBuffer);
    curl_easy_setopt(h, CURLOPT_HEADERDATA, &exchange->headers);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &HttpClient::appendToBuffer);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &exchange->body);
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, exchange->message);
    Exchange* const shared = exchange.get();
    TransferEngine::start(
        std::move(handle), exchange,
        [shared, finished = std::move(finished)](CURL* done, CURLcode code) {
            MonitorLock guard(shared->lock);
            shared->code = code;
            curl_easy_getinfo(done, CURLINFO_RESPONSE_CODE, &shared->status);
            curl_easy_getinfo(done, CURLINFO_OS_ERRNO, &shared->systemError);
            char* effective = nullptr;
            if (curl_easy_getinfo(done, CURLINFO_EFFECTIVE_URL, &effective) == CURLE_OK &&
                effective) {
                shared->finalUrl = effective;
            }
            shared->done = true;
            finished();
        });
    return true;
}

FetchOutcome noHandle(const std::string& url) {
    FetchOutcome outcome;
    outcome.finalUrl = url;
    outcome.failure = TransportFailure::kOther;
    return outcome;
}

}  // namespace

FetchOutcome PageFetch::fetch(const std::string& url, std::chrono::milliseconds timeout) {
    auto exchange = std::make_shared<Exchange>();
    Exchange* const shared = exchange.get();
    if (!startTransfer(url, timeout, exchange, [shared] { shared->lock.broadcast(); })) {
        return noHandle(url);
    }
    MonitorLock guard(exchange->lock);
    while (!exchange->done) {
        exchange->lock.wait();
    }
    return outcomeOf(*exchange, url);
}

void PageFetch::start(const std::string& url, std::chrono::milliseconds timeout, Done done) {
    auto exchange = std::make_shared<Exchange>();
    Exchange* const shared = exchange.get();
    // The callback lives in the transfer's own closure; it runs once, on the event thread.
    auto callback = std::make_shared<Done>(std::move(done));
    if (!startTransfer(url, timeout, exchange,
                       [shared, url, callback] { (*callback)(outcomeOf(*shared, url)); })) {
        (*callback)(noHandle(url));
    }
}

}  // namespace perchlight
