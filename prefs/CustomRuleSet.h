#pragma once

#include <bitset>
#include <ctime>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace perchlight {

class XmlFile;
class XmlNode;

// The twelve warnings of the custom privacy level, in the order of the settings dialog.
enum class CustomSetting : int {
    healthUse,
    healthShare,
    financialUse,
    financialShare,
    contactOther,
    contactPhone,
    noRemoval,
    identifiedProfile,
    identifiedShare,
    noAccess,
    anonymousProfile,
    anonymousShare,
};
inline constexpr int kCustomSettingCount = 12;

// The twelve warnings as the settings pages show them, under their headings, in CustomSetting
// order: one copy for the settings dialog and the extension's options page.
struct CustomWarningGroup {
    std::string_view heading;
    std::span<const std::string_view> boxes;
};
std::span<const CustomWarningGroup> customWarningGroups();

// The twelve custom settings, indexed by CustomSetting (or by its number).
class CustomSettings : public std::bitset<kCustomSettingCount> {
  public:
    using std::bitset<kCustomSettingCount>::bitset;
    using std::bitset<kCustomSettingCount>::operator[];
    CustomSettings(const std::bitset<kCustomSettingCount>& bits)
        : std::bitset<kCustomSettingCount>(bits) {}

    reference operator[](CustomSetting setting) { return (*this)[index(setting)]; }
    bool operator[](CustomSetting setting) const { return (*this)[index(setting)]; }
    CustomSettings& set(CustomSetting setting, bool value = true) {
        std::bitset<kCustomSettingCount>::set(index(setting), value);
        return *this;
    }
    using std::bitset<kCustomSettingCount>::set;

  private:
    static constexpr std::size_t index(CustomSetting setting) {
        return static_cast<std::size_t>(setting);
    }
};

// What one P3P:STATEMENT of a rule asks about, gathered when a rule set is read back.
struct StatementFeatures {
    bool share = false;
    bool anonymousProfiling = false;
    bool identifiedProfiling = false;
    bool contactAlways = false;
    bool contactOptOut = false;
    bool telephoneAlways = false;
    bool telephoneOptOut = false;
    bool health = false;
    bool financial = false;
    bool identifiedData = false;
};

// Writes the APPEL rule set of the custom level from the twelve settings, and reads back which of
// the twelve settings any rule set expresses. Stateless; safe from any thread.
class CustomRuleSet {
  public:
    // The setting's name as in code and on the command line ("healthUse").
    static std::string_view settingName(CustomSetting setting);
    static std::optional<CustomSetting> settingNamed(std::string_view name);

    // The C library's ctime form of a local time, line feed included: "Sat Dec 05 10:21:20 2026\n".
    static std::string creationTime(std::time_t when);

    // Writes the rule set for these settings to path, replacing the file atomically; createdOn is
    // the "crtdon" text. Raises the XmlFile writer's errors when the file cannot be written.
    static void write(const std::string& path, const CustomSettings& settings,
                      const std::string& createdOn);
    // Writes the rule set's elements through an open writer.
    static void writeRuleSet(XmlFile& file, const CustomSettings& settings,
                             const std::string& createdOn);
    // The settings a rule set file expresses; none for a file that is missing, not well-formed or
    // not an APPEL rule set.
    static CustomSettings read(const std::string& path);
    // The settings a parsed rule set expresses.
    static CustomSettings fromRuleSet(const XmlNode& root);

    // Gathers the features of one P3P:STATEMENT.
    static StatementFeatures statementFeatures(const XmlNode& statement);
};

}  // namespace perchlight
