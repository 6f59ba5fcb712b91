#pragma once

#include <string>

#include "util/Url.h"

// Helpers of the policy reference store that its tests exercise directly.
namespace perchlight {

// Joins a path to a base URL: the base without its query and fragment, a "/" unless the base
// ends with one, the path, then the base's query and fragment; runs of "/" in the path collapse
// and "." and ".." segments are resolved. A path that is an absolute URL replaces the base.
// Raises "Invalid URL" (unit Url) when the result is no URL.
Url joinUrl(const std::string& base, const std::string& path);

// True when a HINT scope is an http or https server root and nothing more, whose host has no "*"
// or begins with "*.".
bool isValidHintScope(const std::string& scope);

}  // namespace perchlight
