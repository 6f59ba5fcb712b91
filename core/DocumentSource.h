#pragma once

#include <map>
#include <optional>
#include <string>

namespace perchlight {

// Response headers of one HTTP fetch, keyed by header name as the server sent it.
using HttpHeaders = std::multimap<std::string, std::string>;

// Where the core obtains documents it finds referred to from other documents (data schemas of
// other sites, policy reference files, policies): the policy cache in the running agent, a test
// double in tests.
class DocumentSource {
  public:
    virtual ~DocumentSource() = default;

    // The document's text, or nothing when it cannot be had. url has no fragment. When a fetch
    // happens and headers is given, it receives the response headers.
    virtual std::optional<std::string> getDocument(const std::string& url,
                                                   HttpHeaders* headers = nullptr) = 0;
};

}  // namespace perchlight
