#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "util/Url.h"

namespace perchlight {

// The policy reference URL named by the first "policyref=" value in double quotes anywhere in
// the header text, resolved against the page URL; empty when there is none or it does not
// resolve.
Url extractPolicyRef(const std::string& headers, const Url& page);

// A P3P response header a check saw: the response's URL and the header's whole value.
struct SeenP3PHeader {
    Url url;
    std::string value;
};

// A check keeps at most this many P3P headers: one for the page and each frame it reads, which
// are bounded far below it.
inline constexpr std::size_t kMaxSeenP3PHeaders = 64;

// The values of the P3P header lines of the last response in raw header text (status line and
// header lines of each response in a redirect chain), in order; the name in any case.
std::vector<std::string> p3pHeaderValues(const std::string& headers);

// The compact policy of the first of the headers seen for the URL that has one, or empty.
std::string compactPolicyFor(const std::vector<SeenP3PHeader>& seen, const Url& url);

// Seconds since 1970-01-01 00:00 UTC of an HTTP date (RFC 1123, RFC 850 or asctime form); 0 for
// no text. Raises "Invalid TIME string" (unit Globals) for text that is no date or that denotes
// the epoch itself. Dates before the epoch read as 1 and dates past 2106 as the largest value, so
// that a past date stays past and a far one stays far.
std::uint32_t parseHttpDate(const char* text);

// A file name "temp" followed by a number that names nothing yet in the directory. Nothing is
// created, so two processes may be handed the same name. Raises "No free temporary file name"
// (unit Globals) when every one of the 65536 names is taken. Thread-safe.
std::string uniqueTempName(const std::string& directory);

}  // namespace perchlight
