#include "util/Url.h"

#include <curl/curl.h>

#include <memory>

#include "util/Error.h"

namespace perchlight {
namespace {

constexpr const char* kUnit = "Url";

struct CurlUrlDeleter {
    void operator()(CURLU* handle) const { curl_url_cleanup(handle); }
};
using CurlUrl = std::unique_ptr<CURLU, CurlUrlDeleter>;

// Schemes other than libcurl's own are accepted too: a policy URL may be a file path turned URL.
constexpr unsigned kParseFlags = CURLU_NON_SUPPORT_SCHEME;

CurlUrl parse(const std::string& text) {
    CurlUrl handle(curl_url());
    if (!handle || text.find('\0') != std::string::npos ||
        curl_url_set(handle.get(), CURLUPART_URL, text.c_str(), kParseFlags) != CURLUE_OK) {
        PERCHLIGHT_RAISE("Invalid URL", kUnit);
    }
    return handle;
}

// Reads one part; an absent part gives the empty string.
std::string part(CURLU* handle, CURLUPart which) {
    char* value = nullptr;
    if (curl_url_get(handle, which, &value, 0) != CURLUE_OK || value == nullptr) {
        return {};
    }
    std::string result(value);
    curl_free(value);
    return result;
}

}  // namespace

Url::Url(const std::string& text) : text_(part(parse(text).get(), CURLUPART_URL)) {}

std::string Url::protocol() const {
    if (empty()) {
        return {};
    }
    return part(parse(text_).get(), CURLUPART_SCHEME);
}

std::string Url::base() const {
    if (empty()) {
        return {};
    }
    const CurlUrl handle = parse(text_);
    std::string result =
        part(handle.get(), CURLUPART_SCHEME) + "://" + part(handle.get(), CURLUPART_HOST);
    const std::string port = part(handle.get(), CURLUPART_PORT);
    if (!port.empty()) {
        result += ":" + port;
    }
    return result;
}

std::string Url::host() const {
    return empty() ? std::string() : part(parse(text_).get(), CURLUPART_HOST);
}

Url Url::withoutFragment() const {
    Url result;
    result.text_ = withoutFragment(text_);
    return result;
}

std::string Url::withoutFragment(const std::string& text) {
    return text.substr(0, text.find('#'));
}

std::string Url::fragment() const {
    const auto hash = text_.find('#');
    return hash == std::string::npos ? std::string() : text_.substr(hash + 1);
}

Url Url::resolve(const std::string& reference) const {
    const CurlUrl handle = parse(text_);
    if (reference.find('\0') != std::string::npos ||
        curl_url_set(handle.get(), CURLUPART_URL, reference.c_str(), kParseFlags) != CURLUE_OK) {
        PERCHLIGHT_RAISE("Invalid URL", kUnit);
    }
    Url result;
    result.text_ = part(handle.get(), CURLUPART_URL);
    return result;
}

}  // namespace perchlight
