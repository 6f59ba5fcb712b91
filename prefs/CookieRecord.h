#pragma once

#include <string>

namespace perchlight {

// What a browser hands over about one cookie.
struct CookieRequest {
    std::string url;  // the request that carries or sets the cookie
    std::string name;
    std::string value;
    std::string path;
};

// One cookie decision, as the page's cookie report counts it.
struct CookieRecord {
    CookieRequest request;
    std::string site;  // the site the cookie belongs to
    bool blocked = false;
    bool undetermined = false;     // allowed for want of a usable policy
    bool fromAnotherSite = false;  // the cookie's site is not the page's site
};

// Receives the cookie records of one page (the page check's cookie list). Implementations lock
// their own list.
class CookieRecordSink {
  public:
    virtual ~CookieRecordSink() = default;
    virtual void appendCookieRecord(const CookieRecord& record) = 0;
};

}  // namespace perchlight
