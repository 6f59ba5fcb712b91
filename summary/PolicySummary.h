#pragma once

#include <map>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/PolicyDigest.h"

namespace perchlight {

class XmlNode;
struct MatchResult;

// A business field: the ENTITY data reference it is read from, its template key and its label.
struct BusinessField {
    std::string_view reference;
    std::string_view templateKey;
    std::string_view label;
    std::string PolicySummary::*member;
};

// The business fields in the order they are shown.
std::span<const BusinessField> businessFields();

// Fills the summary of the result from a POLICY element whose references are resolved and whose
// defaults are applied; whatever an earlier build left is replaced. The evaluator runs it as its
// digest step.
void buildSummary(const XmlNode& policy, MatchResult& result);

}  // namespace perchlight
