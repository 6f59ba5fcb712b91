#pragma once

#include <string>

namespace perchlight {

// An absolute URL kept in its string form, as libcurl's URL parser normalises it. URLs are
// compared by that string, byte for byte. A default-constructed Url is empty.
class Url {
  public:
    Url() = default;
    // Parses an absolute URL; raises "Invalid URL" (unit Url) when it is not one.
    explicit Url(const std::string& text);

    const std::string& str() const { return text_; }
    bool empty() const { return text_.empty(); }

    // The scheme in lower case, such as "http".
    std::string protocol() const;
    // The site base: scheme, "://", host and, when the URL names one, ":" and the port.
    std::string base() const;
    // The host as the URL names it (an IPv6 address in brackets), without the port; empty for
    // an empty URL.
    std::string host() const;
    // The URL without its "#fragment".
    Url withoutFragment() const;
    // A URL text up to its first "#", for texts that need not be parsed.
    static std::string withoutFragment(const std::string& text);
    // The fragment without its "#"; empty when there is none.
    std::string fragment() const;
    // Resolves a reference relative to this URL; raises "Invalid URL" when that fails.
    Url resolve(const std::string& reference) const;

    friend bool operator==(const Url&, const Url&) = default;
    friend auto operator<=>(const Url&, const Url&) = default;

  private:
    std::string text_;
};

}  // namespace perchlight
