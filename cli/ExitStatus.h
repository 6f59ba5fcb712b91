#pragma once

namespace perchlight::cli {

// Exit statuses of the command-line tool, for scripts.

// `evaluate`: the policy's verdict, or why there is none.
inline constexpr int kExitMatched = 0;
inline constexpr int kExitConflict = 1;
inline constexpr int kExitNotEvaluated = 2;
// A preference, cache or registration command could not do its work.
inline constexpr int kExitFailed = 2;
// The command line itself is wrong.
inline constexpr int kExitUsage = 64;

// `check` and `summary`: one per page verdict.
inline constexpr int kExitPageMatched = 0;
inline constexpr int kExitPageUnmatched = 1;
inline constexpr int kExitPagePartlyMatched = 2;
inline constexpr int kExitPageUnknown = 3;

// `survey`: every address has its record (whatever the verdicts), or the survey could not run
// (no list, an output that cannot be written, no rule set).
inline constexpr int kExitSurveyDone = 0;
inline constexpr int kExitSurveyFailed = 2;

// `demo`.
inline constexpr int kExitDemoAsExpected = 0;
inline constexpr int kExitDemoDiffers = 1;
inline constexpr int kExitDemoFailed = 2;

}  // namespace perchlight::cli
