#include "prefs/RuleSetTransfer.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <optional>

#include "core/XmlNode.h"
#include "prefs/P3PPreferences.h"
#include "prefs/PreferenceFile.h"

#include "util/FileReader.h"

namespace perchlight {
namespace {

bool holdsBlockRule(const XmlNode& node) {
    if (node.name == "APPEL:RULESET") {
        for (const XmlNodePtr& rule : node.children()) {
            const std::string* behavior = rule->attribute("BEHAVIOR");
            if (rule->name == "APPEL:RULE" && behavior != nullptr && *behavior == "block") {
                return true;
            }
        }
    }
    for (const XmlNodePtr& child : node.children()) {
        if (holdsBlockRule(*child)) {
            return true;
        }
    }
    return false;
}

bool isRegularFile(const std::string& path) {
    std::error_code error;
    return std::filesystem::is_regular_file(path, error);
}

}  // namespace

bool RuleSetTransfer::validateImportedRuleSet(const std::string& path, bool& blockRule) {
    blockRule = false;
    const XmlNodePtr root = XmlNode::parseXmlFile(path);
    if (!root || root->name != "APPEL:RULESET") {
        return false;
    }
    blockRule = holdsBlockRule(*root);
    return true;
}

bool RuleSetTransfer::stageImport(const std::string& source, const std::string& moduleDirectory) {
    return copyRuleSet(source, moduleDirectory + kStagedFile);
}

bool RuleSetTransfer::installStagedImport(const std::string& moduleDirectory) {
    return installStaged(moduleDirectory + kStagedFile, moduleDirectory);
}

bool RuleSetTransfer::installStaged(const std::string& stagedPath,
                                    const std::string& moduleDirectory) {
    // The rename replaces the old file in one step, so no other process ever finds the Imported
    // level without its file.
    const std::string imported = moduleDirectory + P3PPreferences::kImportedRuleSetFile;
    return std::rename(stagedPath.c_str(), imported.c_str()) == 0;
}

void RuleSetTransfer::discardAbandonedStaged(const std::string& moduleDirectory) {
    static const std::string prefix = "temp-appel-imported-";
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(moduleDirectory, error)) {
        const std::string name = entry.path().filename().string();
        if (!name.starts_with(prefix)) {
            continue;
        }
        char* end = nullptr;
        const long pid = std::strtol(name.c_str() + prefix.size(), &end, 10);
        // A process that no longer exists cannot install its staged file any more.
        if (pid > 0 && *end == '-' && ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) {
            std::error_code ignored;
            std::filesystem::remove(entry.path(), ignored);
        }
    }
}

std::string RuleSetTransfer::uniqueStagedPath(const std::string& moduleDirectory) {
    static std::atomic<unsigned> counter = 0;
    return moduleDirectory + "/temp-appel-imported-" + std::to_string(::getpid()) + "-" +
           std::to_string(++counter) + ".xml";
}

bool RuleSetTransfer::copyRuleSet(const std::string& source, const std::string& target) {
    const std::optional<std::string> bytes = FileReader::read(source, XmlNode::kMaxFileSize);
    return bytes && PreferenceFile::writeText(target, *bytes);
}

void RuleSetTransfer::discardStagedImport(const std::string& moduleDirectory) {
    discardStaged(moduleDirectory + kStagedFile);
}

void RuleSetTransfer::discardStaged(const std::string& stagedPath) {
    if (stagedPath.empty()) {
        return;
    }
    std::error_code ignored;
    std::filesystem::remove(stagedPath, ignored);
}

bool RuleSetTransfer::exportImported(const std::string& moduleDirectory,
                                     const std::string& target) {
    const std::string imported = moduleDirectory + P3PPreferences::kImportedRuleSetFile;
    const std::string staged = moduleDirectory + kStagedFile;
    const std::string source = isRegularFile(imported) ? imported
                               : isRegularFile(staged) ? staged
                                                       : std::string();
    return !source.empty() && copyRuleSet(source, target);
}

}  // namespace perchlight
