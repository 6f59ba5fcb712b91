#pragma once

#include <string>
#include <string_view>

namespace perchlight {

// The directory of the running program (the working directory when it cannot be told).
std::string programDirectory();

// The browser module named fileName as the build places it (beside the program) or as the
// installation does (lib/perchlight beside bin/): the first that exists, else the one beside the
// program. Data files are found through DataLocations.
std::string agentModulePath(std::string_view fileName);

}  // namespace perchlight
