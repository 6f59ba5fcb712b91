#pragma once

#include <string>

#include "core/MatchResult.h"

namespace perchlight {

// Short plain words for P3P values, for the one-line reasons of fired rules and the compact
// policy's notes: "telemarketing", "unrelated companies", "purchase data". A value without words
// of its own is shown as the policy writes it.
std::string purposeWords(const std::string& purpose);
std::string recipientWords(const std::string& recipient);
std::string retentionWords(const std::string& retention);
std::string categoryWords(const std::string& category);
std::string accessWords(const std::string& access);

// One line for a place where a rule fired: "statement 2: shares purchase data with unrelated
// companies", "the policy: gives access to no data".
std::string reasonLine(const StatementReason& reason);

}  // namespace perchlight
