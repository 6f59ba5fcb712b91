#include "util/ModuleDirectory.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace perchlight {
namespace {

std::string withoutTrailingSlash(std::string path) {
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    return path;
}

}  // namespace

std::string programDirectory() {
    std::error_code error;
    const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::filesystem::current_path(error).string() : program.parent_path().string();
}

std::string moduleDirectory() {
    if (const char* home = std::getenv("PERCHLIGHT_HOME"); home != nullptr && *home != '\0') {
        return withoutTrailingSlash(home);
    }
    const std::filesystem::path program(programDirectory());
    for (const std::filesystem::path& candidate :
         {program / "data", program / ".." / "share" / "perchlight"}) {
        std::error_code error;
        if (std::filesystem::is_directory(candidate, error)) {
            return withoutTrailingSlash(candidate.lexically_normal().string());
        }
    }
    return withoutTrailingSlash(program.string());
}

}  // namespace perchlight
