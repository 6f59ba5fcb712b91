#pragma once

#include <optional>
#include <string>
#include <vector>

#include "retrieval/CheckOwner.h"
#include "retrieval/P3PMatchInfo.h"
#include "retrieval/PageFetch.h"

namespace perchlight {

// The owner of a page check without a browser: reads the page over HTTP as the browser would
// present it, and records the verdict and the sounds instead of drawing a bird. One check at a
// time.
class HeadlessOwner : public CheckOwner, public CheckIndicator {
  public:
    explicit HeadlessOwner(P3PMatchInfo& info) : info_(info) {}

    // Fetches the page and its frames and collects their embedded content and the page's P3P
    // LINK. False when the page yields no document (it is still checked).
    bool loadPage(const Url& page, bool posted);
    // The page that loaded: where its redirects ended, else the page asked for. The page a
    // browser shows, and so the one to check.
    const Url& pageUrl() const { return pageUrl_; }
    // How reading the page went (its status, or why nothing answered); the body is not kept.
    const FetchOutcome& pageOutcome() const { return pageOutcome_; }

    // The verdict shown last, and the sounds that played ("no policy", "no match", "match").
    int verdict() const { return verdict_; }
    const std::vector<std::string>& sounds() const { return sounds_; }
    bool truncated() const { return truncated_; }
    // The P3P headers of the page and the frames it read, in the order they were read.
    const std::vector<SeenP3PHeader>& p3pHeaders() const { return p3pHeaders_; }

    P3PMatchInfo& matchInfo() override { return info_; }
    CheckIndicator& indicator() override { return *this; }
    Monitor& checkMonitor() override { return checkMonitor_; }
    const std::vector<EmbeddedItem>& embeddedContent() const override { return embedded_; }
    const Url& linkPolicyReference() const override { return linkPolicyRef_; }
    bool postedNavigation() const override { return posted_; }
    const std::string* pageResponseHeaders() const override {
        return pageHeaders_ ? &*pageHeaders_ : nullptr;
    }

    void showChecking() override { verdict_ = kVerdictUnknown; }
    void showVerdict(int verdict, bool) override { verdict_ = verdict; }
    void playSoundNoPolicy() override { sounds_.push_back("no policy"); }
    void playSoundNoMatch() override { sounds_.push_back("no match"); }
    void playSoundMatch() override { sounds_.push_back("match"); }
    bool soundsForCachedPolicies() const override { return true; }

  private:
    P3PMatchInfo& info_;
    Monitor checkMonitor_;
    std::vector<EmbeddedItem> embedded_;
    Url linkPolicyRef_;
    Url pageUrl_;
    FetchOutcome pageOutcome_;
    std::optional<std::string> pageHeaders_;  // of the page's last response, once it loaded
    bool posted_ = false;
    bool truncated_ = false;
    std::vector<SeenP3PHeader> p3pHeaders_;
    int verdict_ = kVerdictUnknown;
    std::vector<std::string> sounds_;
};

}  // namespace perchlight
