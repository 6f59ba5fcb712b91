#include "util/ModuleDirectory.h"

#include <filesystem>
#include <system_error>

namespace perchlight {

std::string programDirectory() {
    std::error_code error;
    const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::filesystem::current_path(error).string() : program.parent_path().string();
}

std::string agentModulePath(std::string_view fileName) {
    const std::filesystem::path program(programDirectory());
    const std::filesystem::path beside = program / fileName;
    for (const std::filesystem::path& candidate :
         {beside, program / ".." / "lib" / "perchlight" / fileName}) {
        std::error_code error;
        if (std::filesystem::is_regular_file(candidate, error)) {
            return candidate.lexically_normal().string();
        }
    }
    return beside.lexically_normal().string();
}

}  // namespace perchlight
