#pragma once

#include <nlohmann/json.hpp>

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "browser/ReportedPage.h"
#include "retrieval/Globals.h"

namespace perchlight {

// Limits on what the browser sends, which comes from web pages: each keeps a hostile page from
// making the host hold or walk more than a real page needs.
inline constexpr std::size_t kMaxRequestBytes = 4 * 1024 * 1024;  // one request
inline constexpr std::size_t kMaxReplyBytes = 1000000;            // under Chromium's 1 MiB
inline constexpr int kMaxJsonDepth = 32;                          // nesting of arrays and objects
inline constexpr std::size_t kMaxIdLength = 64;                   // a string id
inline constexpr std::size_t kMaxStringBytes = 8192;              // a URL or an attribute
inline constexpr std::size_t kMaxRuleSetBytes = 1024 * 1024;      // an imported rule set
inline constexpr std::size_t kMaxDocuments = 1000;                // documents of one page
inline constexpr std::size_t kMaxElements = 20000;                // elements of one page
inline constexpr std::size_t kMaxFrameDepth = 32;                 // entries of a frame path
inline constexpr std::size_t kMaxResponses = 63;  // items' P3P headers, one under a check's
inline constexpr std::int64_t kMaxTab = 2147483647;

// A request that cannot be answered as asked; the text names the field or the problem and goes
// back in the error reply.
class RequestError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// One request as it arrived: its id (a number or a short string, null when unreadable), its type
// and the whole object, whose other fields the type's handler reads through Fields.
struct Request {
    nlohmann::json id;
    std::string type;
    nlohmann::json message;
};

// Reads a frame's body as a request. Raises RequestError for bytes that are no JSON object within
// the limits, for a missing or bad id or type; the error's id is then the id when it could be
// read (see requestIdOf).
Request decodeRequest(std::string_view body);
// The id of a body that may be malformed, for the error reply: null when it cannot be read.
nlohmann::json requestIdOf(std::string_view body);

// The typed fields of one request object; every getter raises RequestError naming the field.
class Fields {
  public:
    explicit Fields(const nlohmann::json& object) : object_(object) {}

    bool has(const char* name) const;
    std::string string(const char* name, std::size_t maxBytes = kMaxStringBytes) const;
    // A string that may be left out ("" then).
    std::string optionalString(const char* name, std::size_t maxBytes = kMaxStringBytes) const;
    std::int64_t integer(const char* name, std::int64_t low, std::int64_t high) const;
    bool boolean(const char* name) const;
    const nlohmann::json& array(const char* name, std::size_t maxSize) const;
    const nlohmann::json& object(const char* name) const;
    // An http or https URL, checked by the agent's URL parser.
    std::string webUrl(const char* name) const;
    // The browser's tab id.
    std::int64_t tab() const { return integer("tab", 0, kMaxTab); }

  private:
    const nlohmann::json& field(const char* name) const;

    const nlohmann::json& object_;
};

// The documents of a "page" request, every field checked: what the browser reported of the page.
// A document whose own address cannot be read is left out, as the Qt agent leaves it out.
std::vector<ReportedDocument> readDocuments(const Fields& page);

// The P3P headers of a "page" request, every field checked: its own response's `header` for the
// page's `url` (none when "" or left out), then each of `responses`, the items' responses the
// browser saw with a P3P header, as [{url, header}].
std::vector<SeenP3PHeader> readReportedHeaders(const Fields& page);

// A reply's bytes: JSON with any invalid UTF-8 from sites replaced, never longer than
// kMaxReplyBytes (an oversized reply becomes an error reply naming its size).
std::string encodeReply(const nlohmann::json& reply);
nlohmann::json errorReply(const nlohmann::json& id, std::string_view error);

}  // namespace perchlight
