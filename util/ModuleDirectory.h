#pragma once

#include <string>

namespace perchlight {

// The directory that holds the agent's data files (rule sets, base data schema, cache, cookie
// files), without a trailing "/". PERCHLIGHT_HOME overrides it; otherwise it is the "data"
// directory beside the program, else the installed share directory, else the program's own
// directory. File paths are built as moduleDirectory() + "/name".
std::string moduleDirectory();

// The directory of the running program (the working directory when it cannot be told).
std::string programDirectory();

}  // namespace perchlight
