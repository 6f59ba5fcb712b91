#pragma once

#include <QUrl>

namespace perchlight {

struct BirdMenuState;
struct MatchResult;

// The pages a policy names for the bird menu's site commands, resolved against the policy's own
// address. Only http and https addresses come out; anything else (javascript:, file:, data:, an
// address that does not resolve) is none, which greys the menu item. Any thread.
class PolicyAddresses {
  public:
    // The policy's discussion page (DISCURI), for "Full &Policy...".
    static QUrl fullPolicy(const MatchResult& result);
    // The policy's opt-in/opt-out page (OPTURI).
    static QUrl optOut(const MatchResult& result);
    // The policy document itself, without its "#name".
    static QUrl policy(const MatchResult& result);
    // Fills the menu's site items from the page's result.
    static void applyTo(BirdMenuState& state, const MatchResult& result);
};

}  // namespace perchlight
