#pragma once

#include <string>
#include <vector>

#include "util/Monitor.h"
#include "util/Url.h"

namespace perchlight {

class P3PMatchInfo;

// One piece of content embedded in a page: its display kind ("Image", "Frame/IFrame", ...) and
// its absolute URL.
struct EmbeddedItem {
    std::string contentType;
    Url url;

    friend bool operator==(const EmbeddedItem&, const EmbeddedItem&) = default;
};

// Where a page check shows its progress and verdict: the bird in the browser, a recorder
// headless. Every handler does nothing by default, so an indicator overrides only what it shows.
// Called from the check thread.
class CheckIndicator {
  public:
    virtual ~CheckIndicator() = default;

    virtual void showChecking() {}
    // verdict is a page verdict (matched 0, unmatched 1, partly matched 2, unknown -1).
    virtual void showVerdict(int /*verdict*/, bool /*cookieBlocked*/) {}
    // Each sound plays only when the user has enabled it.
    virtual void playSoundNoPolicy() {}
    virtual void playSoundNoMatch() {}
    virtual void playSoundMatch() {}
    // The user wants the verdict sound also when the page's policy came from the cache.
    virtual bool soundsForCachedPolicies() const { return false; }
};

// What a page check reads from the window that started it. Everything but the indicator and the
// monitor is filled before the check starts and left alone while it runs.
class CheckOwner {
  public:
    virtual ~CheckOwner() = default;

    // The window's check state, which the check fills.
    virtual P3PMatchInfo& matchInfo() = 0;
    virtual CheckIndicator& indicator() = 0;
    // Signalled when a download of the check ends and, repeatedly, when the check is cancelled.
    virtual Monitor& checkMonitor() = 0;
    // The page's frames and embedded elements, in the order collected.
    virtual const std::vector<EmbeddedItem>& embeddedContent() const = 0;
    // The href of the page's first LINK rel="P3Pv1", or empty.
    virtual const Url& linkPolicyReference() const = 0;
    // The last top-level navigation carried POST data.
    virtual bool postedNavigation() const = 0;
    // Whether the check brings the documents it will need in all at once before it starts
    // (PolicyPrefetch); only the waiting differs.
    virtual bool prefetches() const { return true; }
    // The raw response header text the page answered with, when the owner read the page itself
    // (null otherwise): the check then takes the page's "policyref=" from it instead of asking
    // the page's server for its headers once more.
    virtual const std::string* pageResponseHeaders() const { return nullptr; }
};

}  // namespace perchlight
