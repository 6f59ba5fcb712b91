#pragma once

#include <nlohmann/json_fwd.hpp>

namespace perchlight {

struct MatchResult;

// The fired rules of a result as data, for the command line's --json and the native host's page
// reply: [{description, statements: [{statement, line, elements: [{element, value}]}]}].
nlohmann::json firedRulesJson(const MatchResult& result);

}  // namespace perchlight
