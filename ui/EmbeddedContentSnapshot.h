#pragma once

#include <optional>
#include <string>
#include <vector>

#include "core/MatchResult.h"

namespace perchlight {

class P3PMatchInfo;

// One embedded item as the Embedded Content dialog lists it.
struct EmbeddedContentRow {
    std::string url;
    int state = kStateNotEvaluated;  // of the item's policy
    std::string contentType;
    std::string policyUrl;              // empty when none covers the item
    std::optional<MatchResult> result;  // the policy's result, when there is one
};

// The embedded items of a page check with their results, copied once so that the dialog never
// waits on the check's locks while it is open. A plain value; any thread.
class EmbeddedContentSnapshot {
  public:
    EmbeddedContentSnapshot() = default;
    explicit EmbeddedContentSnapshot(std::vector<EmbeddedContentRow> rows)
        : rows_(std::move(rows)) {}

    // The items of the check, in its order. Takes the check's maps lock: call it while no check
    // runs on the window.
    static EmbeddedContentSnapshot take(const P3PMatchInfo& info);

    const std::vector<EmbeddedContentRow>& rows() const { return rows_; }

  private:
    std::vector<EmbeddedContentRow> rows_;
};

}  // namespace perchlight
