#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>

#include "TestSupport.h"
#include "prefs/BirdSettings.h"

namespace perchlight::test {

// A fresh module directory (PERCHLIGHT_HOME) and configuration directory (XDG_CONFIG_HOME) for
// one test, with the process-wide bird settings as at process start.
class PreferenceTestEnvironment {
  public:
    PreferenceTestEnvironment() {
        ::setenv("PERCHLIGHT_HOME", home_.path().c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", config_.path().c_str(), 1);
        BirdSettings::reset();
    }
    ~PreferenceTestEnvironment() {
        ::unsetenv("PERCHLIGHT_HOME");
        ::unsetenv("XDG_CONFIG_HOME");
        BirdSettings::reset();
    }

    std::string home() const { return home_.path().string(); }
    std::filesystem::path homeFile(const std::string& name) const { return home_ / name; }
    std::filesystem::path settingsFile() const {
        return config_.path() / "Halvard" / "Perchlight.conf";
    }
    // Creates the settings key with these lines.
    void writeSettings(const std::string& lines) const {
        std::filesystem::create_directories(settingsFile().parent_path());
        writeFile(settingsFile(), lines);
    }
    // Copies the installed rule sets into the module directory.
    void installRuleSets() const {
        for (const char* level : {"low", "medium", "high"}) {
            const std::string name = std::string("appel-") + level + ".xml";
            std::filesystem::copy_file(dataDir() / name, home_ / name);
        }
    }

  private:
    TempDir home_;
    TempDir config_;
};

}  // namespace perchlight::test
