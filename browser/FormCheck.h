#pragma once

#include <atomic>
#include <optional>
#include <string>
#include <string_view>

#include "core/MatchResult.h"
#include "util/Url.h"

namespace perchlight {

class AgentServices;

// The question before a form is posted, without its dialog: the policy that covers the target
// for "POST" is looked up and evaluated. The Qt form warning and the native host both ask it, so
// they never disagree. Stateless; any thread (the caller registers its thread with a monitor of
// its own, so that cancelling wakes its downloads).
class FormCheck {
  public:
    // The first line of the warning: the target's policy conflicts, or none can be had.
    static constexpr std::string_view kNoMatchMessage =
        "The privacy policy of this form does not match your preferences.";
    static constexpr std::string_view kNoPolicyMessage =
        "No privacy policy can be found for this form.";

    // The target as it is checked: an http or https URL, a site alone as its root page; none for
    // anything else.
    static std::optional<Url> targetUrl(const std::string& target);
    // The site base of the target, as the no-prompt list keeps it.
    static std::optional<Url> siteOf(const std::string& target);
    // True when the user asked not to be warned about this target: forms on any site, or its
    // site is a no-prompt site.
    static bool skipsWarning(AgentServices& services, const std::string& target);

    // 0 when the target's policy satisfies the preferences, positive when it does not or is
    // unusable, negative when there is none that can be had or the check was cancelled. Raises
    // what the lookup and the download raise.
    static int run(AgentServices& services, const Url& target, const std::atomic<bool>& cancelled,
                   MatchResult& result);
};

}  // namespace perchlight
