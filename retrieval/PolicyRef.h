#pragma once

#include <string>
#include <vector>

#include "util/Url.h"

namespace perchlight {

// One cookie pattern of a COOKIE-INCLUDE or COOKIE-EXCLUDE. The domain is held upper-cased and
// without a leading "."; the path is kept but takes no part in any lookup.
struct CookiePattern {
    std::string name;
    std::string value;
    std::string domain;
    std::string path;

    friend bool operator==(const CookiePattern&, const CookiePattern&) = default;
};

// One POLICY-REF of a reference file: the policy it names and what it covers. URL patterns are
// absolute (the site's server root joined with the local pattern), matched with wildcardMatch.
struct PolicyRef {
    Url policyUrl;  // may carry "#name" for a policy inside the reference file
    std::vector<std::string> includes;
    std::vector<std::string> excludes;
    std::vector<CookiePattern> cookieIncludes;
    std::vector<CookiePattern> cookieExcludes;
    std::vector<std::string> methods;  // empty: every method
};

// One loaded reference file: where it came from and its POLICY-REFs in document order.
struct PolicyRefFile {
    Url fileUrl;
    std::vector<PolicyRef> references;
};

}  // namespace perchlight
