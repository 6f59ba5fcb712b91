#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/XmlNode.h"

namespace perchlight {

// The groups of compact policy tokens, each standing for one part of a full policy.
enum class CompactGroup {
    kAccess,
    kDisputes,
    kRemedies,
    kNonIdentifiable,
    kPurpose,
    kRecipient,
    kRetention,
    kCategories,
    kTest
};

// One token of the compact vocabulary: its letters, its group, the full policy's element it
// stands for (lower case, as in a policy), and whether it takes a consent suffix a, i or o.
struct CompactTokenInfo {
    std::string_view token;
    CompactGroup group;
    std::string_view element;
    bool takesSuffix;
};

// Every token of the vocabulary, in the order the vocabulary lists them.
std::span<const CompactTokenInfo> compactTokenTable();
// "ACCESS", "DISPUTES", "REMEDIES", "NON-IDENTIFIABLE", "PURPOSE", "RECIPIENT", "RETENTION",
// "CATEGORIES", "TEST".
std::string_view compactGroupName(CompactGroup group);

// A token of a compact policy that is in the vocabulary. suffix is 'a', 'i', 'o' or 0.
struct CompactToken {
    std::string text;
    const CompactTokenInfo* info = nullptr;
    char suffix = 0;
};

// The classes of problems a compact policy can have.
enum class CompactProblemKind {
    kUnknownToken,   // not in the vocabulary; suggestion holds the likely intended token
    kMissingGroup,   // no token of a group every policy declares; token holds the group name
    kContradiction,  // tokens that cannot both be true; token and other name them
    kFreeText,       // words instead of tokens
    kDuplicate,      // the same token twice
    kOverLimit,      // longer than kMaxBytes or more tokens than kMaxTokens: the rest was not read
};

struct CompactProblem {
    CompactProblemKind kind;
    std::string token;
    std::string other;  // the suggestion of an unknown token, the second token of a contradiction
};

// A compact policy read from a P3P header: its text, the tokens of the vocabulary in it, and
// its problems. Parsing never fails; whatever is wrong becomes a problem.
struct CompactPolicy {
    // Only this much of a compact policy is read: real ones are under 200 bytes, and the whole
    // header line is bounded by the HTTP client already.
    static constexpr std::size_t kMaxBytes = 4096;
    // At most this many tokens are read; the vocabulary has 57 tokens with their suffixes.
    static constexpr std::size_t kMaxTokens = 128;

    std::string text;
    std::vector<CompactToken> tokens;
    std::vector<CompactProblem> problems;

    bool valid() const { return problems.empty(); }
    bool has(std::string_view token) const;  // by its letters without suffix
};

// The value of the first CP field of a P3P header value ('policyref="/w3c/p3p.xml", CP="NOI
// DSP"'), quoted or not, or none. Later CP fields are ignored, as user agents must.
std::optional<std::string> compactPolicyField(std::string_view header);

// Reads and validates a compact policy text (the CP field's value).
CompactPolicy parseCompactPolicy(std::string_view text);

// "unknown-token", "missing-group", "contradiction", "free-text", "duplicate", "over-limit".
std::string_view compactProblemClass(CompactProblemKind kind);
// One line of plain words about a problem: "unknown token CURA (did you mean CURa?)".
std::string compactProblemText(const CompactProblem& problem);

// Where a compact policy and the full policy it summarises disagree.
struct CompactMismatch {
    enum class Kind {
        kUnsupported,  // the compact policy has a token the full policy does not back
        kOmitted,      // the full policy declares something the compact policy leaves out
    };
    Kind kind;
    std::string token;  // the token that is there without support, or that should be there
    std::string text;   // plain words
};

// The tokens a full policy's POLICY element (data references resolved, defaults filled in)
// implies, each once, suffixed as its REQUIRED says ("TELo"; none for "always"). When statements
// name the data "#dynamic.cookies", only they count, as a compact policy speaks of cookies;
// otherwise every statement does.
std::vector<std::string> impliedCompactTokens(const XmlNode& policy);

// Compares a compact policy with the tokens its full policy implies.
std::vector<CompactMismatch> compareCompactPolicy(const CompactPolicy& compact,
                                                  const std::vector<std::string>& implied);

}  // namespace perchlight
