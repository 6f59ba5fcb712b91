#pragma once

#include <string>

namespace perchlight {

// Moves APPEL rule sets in and out of the module directory: the validation of a file to import,
// its staging copy "temp-appel-imported.xml", its installation as "appel-imported.xml" (the rule
// set of the Imported level), and the export of the imported rule set. The settings dialog and
// the command-line tool share it. Stateless; callers hold the preferences lock where the store
// is concerned.
class RuleSetTransfer {
  public:
    static constexpr const char* kStagedFile = "/temp-appel-imported.xml";
    // Shown when an imported file holds rules that would block sites.
    static constexpr const char* kBlockRuleWarning =
        "The privacy preference file you have imported includes rules designed to block access to "
        "web sites with certain privacy practices that you may find objectionable. Perchlight "
        "will display a red bird at these sites but it will not block them.";

    // True when the file is an APPEL rule set; blockRule tells whether a rule of any rule set in
    // it has the behavior "block". Raises "XML parse error" for a file that is not well-formed.
    static bool validateImportedRuleSet(const std::string& path, bool& blockRule);
    // Copies the file byte for byte to the staging file; false when either cannot be opened.
    static bool stageImport(const std::string& source, const std::string& moduleDirectory);
    // Makes the staged file the imported rule set; false when that fails.
    static bool installStagedImport(const std::string& moduleDirectory);
    // Removes the staging file, if any.
    static void discardStagedImport(const std::string& moduleDirectory);
    // Copies the imported rule set (else the staged one) to target; false when there is none or
    // the copy fails.
    static bool exportImported(const std::string& moduleDirectory, const std::string& target);

    // A staging file of the settings dialog, named for this process and this call
    // ("temp-appel-imported-<pid>-<n>.xml"), so that two dialogs never share one.
    static std::string uniqueStagedPath(const std::string& moduleDirectory);
    // Copies a rule set byte for byte, replacing target atomically; false when either file cannot
    // be opened or the copy fails (target is then untouched).
    static bool copyRuleSet(const std::string& source, const std::string& target);
    // Renames the staged file over the imported rule set in one step; false when that fails, and
    // the previous imported rule set is then untouched.
    static bool installStaged(const std::string& stagedPath, const std::string& moduleDirectory);
    // Removes a staging file, if any.
    static void discardStaged(const std::string& stagedPath);
    // Removes the staging files of dialogs whose process has ended without removing them.
    static void discardAbandonedStaged(const std::string& moduleDirectory);
};

}  // namespace perchlight
