#include "retrieval/PageFetch.h"

#include <curl/curl.h>

#include <memory>
#include <mutex>
#include <system_error>

#include "retrieval/HttpClient.h"
#include "retrieval/RequestTally.h"

namespace perchlight {
namespace {

constexpr const char* kWebProtocols = "http,https";

struct CurlDeleter {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
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

FetchOutcome PageFetch::fetch(const std::string& url, std::chrono::milliseconds timeout) {
    static std::once_flag initialised;
    std::call_once(initialised, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    FetchOutcome outcome;
    outcome.finalUrl = url;
    RequestTally::count();
    std::unique_ptr<CURL, CurlDeleter> handle(curl_easy_init());
    if (!handle) {
        outcome.failure = TransportFailure::kOther;
        return outcome;
    }
    TextBuffer body(HttpClient::kMaxBodyBytes);
    TextBuffer headers(HttpClient::kMaxHeaderBytes);
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
    curl_easy_setopt(h, CURLOPT_HEADERDATA, &headers);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &HttpClient::appendToBuffer);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &body);
    char message[CURL_ERROR_SIZE] = "";
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, message);
    const CURLcode code = curl_easy_perform(h);
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &outcome.status);
    char* effective = nullptr;
    if (curl_easy_getinfo(h, CURLINFO_EFFECTIVE_URL, &effective) == CURLE_OK && effective) {
        outcome.finalUrl = effective;
    }
    outcome.headers = std::move(headers.data);
    if (outcome.status == 0) {
        outcome.failure = failureOf(code);
        if (outcome.failure == TransportFailure::kNone) {
            outcome.failure = TransportFailure::kOther;
        }
    } else if (code == CURLE_OPERATION_TIMEDOUT) {
        outcome.failure = TransportFailure::kTimeout;  // the status came, the body did not
    }
    if (outcome.failure != TransportFailure::kNone) {
        long systemError = 0;
        curl_easy_getinfo(h, CURLINFO_OS_ERRNO, &systemError);
        if (systemError != 0) {
            outcome.reason =
                std::error_code(static_cast<int>(systemError), std::generic_category()).message();
        } else {
            outcome.reason = message[0] != '\0' ? message : curl_easy_strerror(code);
        }
    }
    if (code == CURLE_OK && !body.overflowed && outcome.status >= 200 && outcome.status <= 299) {
        outcome.body = std::move(body.data);
    }
    return outcome;
}

}  // namespace perchlight
