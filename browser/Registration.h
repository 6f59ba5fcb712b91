#pragma once

#include <string>

namespace perchlight {

class RegistryTree;

// The entries by which the browser shell finds the agent module, written into the per-user
// registry stand-in (util/RegistryTree): the browser-helper entry "Ombrel" of the P3PObject class,
// the class entries of P3PObject and WebHost with their ProgIDs, descriptions and the module
// path, and the type library's identifier. The shared key HKCR\CLSID is never removed.
class Registration {
  public:
    static constexpr const char* kP3PObjectClsid = "{00000178-CD4A-447a-BCF9-6FD0096B5527}";
    static constexpr const char* kWebHostClsid = "{FAB41CFF-A081-4274-8897-8995831C160A}";
    static constexpr const char* kTypeLibraryId = "{0106AB7B-DF94-468b-91C4-275294BC9701}";
    static constexpr const char* kHelperKey =
        "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Browser Helper Objects";

    // Writes every entry for the module at modulePath (an absolute path); false when the
    // registry file cannot be saved.
    static bool registerServer(RegistryTree& registry, const std::string& modulePath);
    // Removes the entries that registration writes, except the shared parent keys; false when
    // the registry file cannot be saved.
    static bool unregisterServer(RegistryTree& registry);

    // True when the browser-helper entry exists.
    static bool isRegistered(const RegistryTree& registry);
    // The installer's request that the browser show the settings dialogs at its next start, and
    // its removal once they were shown; false when the registry file cannot be saved.
    static bool requestSettingsDisplay(RegistryTree& registry);
    static bool settingsDisplayRequested(const RegistryTree& registry);
    static bool clearSettingsDisplayRequest(RegistryTree& registry);
};

}  // namespace perchlight
