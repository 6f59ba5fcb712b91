#include "browser/Registration.h"

#include <array>
#include <string_view>

#include "util/RegistryTree.h"

namespace perchlight {
namespace {

// One COM class of the module and its identifiers.
struct ClassEntry {
    std::string_view clsid;
    std::string_view progId;         // version-dependent
    std::string_view currentProgId;  // version-independent
    std::string_view description;
};

constexpr std::array<ClassEntry, 2> kClasses = {{
    {Registration::kP3PObjectClsid, "Ombrel.P3PObject.1", "Ombrel.P3PObject", "P3PObject Class"},
    {Registration::kWebHostClsid, "Ombrel.WebHost.1", "Ombrel.WebHost", "WebHost Class"},
}};

std::string join(std::string_view parent, std::string_view child) {
    return std::string(parent) + "\\" + std::string(child);
}

std::string classKey(const ClassEntry& entry) {
    return join("HKCR\\CLSID", entry.clsid);
}

void writeProgIds(RegistryTree& registry, const ClassEntry& entry) {
    const std::string versioned = join("HKCR", entry.progId);
    registry.setValue(versioned, "@", entry.description);
    registry.setValue(join(versioned, "CLSID"), "@", entry.clsid);
    const std::string current = join("HKCR", entry.currentProgId);
    registry.setValue(current, "@", entry.description);
    registry.setValue(join(current, "CLSID"), "@", entry.clsid);
    registry.setValue(join(current, "CurVer"), "@", entry.progId);
}

// The class key is replaced whole, so nothing of an earlier registration lingers in it.
void writeClass(RegistryTree& registry, const ClassEntry& entry, const std::string& modulePath) {
    const std::string key = classKey(entry);
    registry.removeTree(key);
    registry.setValue(key, "@", entry.description);
    registry.setValue(join(key, "ProgID"), "@", entry.progId);
    registry.setValue(join(key, "VersionIndependentProgID"), "@", entry.currentProgId);
    registry.createKey(join(key, "Programmable"));
    registry.setValue(join(key, "InprocServer32"), "@", modulePath);
    registry.setValue(join(key, "InprocServer32"), "ThreadingModel", "Apartment");
    registry.setValue(join(key, "TypeLib"), "@", Registration::kTypeLibraryId);
}

void writeWebHostExtras(RegistryTree& registry, const std::string& modulePath) {
    const std::string key = classKey(kClasses[1]);
    registry.createKey(join(key, "Control"));
    registry.createKey(join(key, "Insertable"));
    registry.setValue(join(key, "ToolboxBitmap32"), "@", modulePath + ", 226");
    registry.setValue(join(key, "MiscStatus"), "@", "0");
    registry.setValue(join(key, "MiscStatus\\1"), "@", "131473");
    registry.setValue(join(key, "Version"), "@", "1.0");
}

constexpr const char* kSettingsDisplayValue = "ShowSettingsAtNextStart";

std::string helperKey() {
    return join(Registration::kHelperKey, Registration::kP3PObjectClsid);
}

}  // namespace

bool Registration::isRegistered(const RegistryTree& registry) {
    return registry.hasKey(helperKey());
}

bool Registration::requestSettingsDisplay(RegistryTree& registry) {
    return registry.setValue(helperKey(), kSettingsDisplayValue, "1") && registry.save();
}

bool Registration::settingsDisplayRequested(const RegistryTree& registry) {
    return registry.value(helperKey(), kSettingsDisplayValue) == "1";
}

bool Registration::clearSettingsDisplayRequest(RegistryTree& registry) {
    return registry.setValue(helperKey(), kSettingsDisplayValue, "0") && registry.save();
}

bool Registration::registerServer(RegistryTree& registry, const std::string& modulePath) {
    for (const ClassEntry& entry : kClasses) {
        writeProgIds(registry, entry);
        writeClass(registry, entry, modulePath);
    }
    writeWebHostExtras(registry, modulePath);
    const std::string helper = join(kHelperKey, kP3PObjectClsid);
    registry.removeTree(helper);
    registry.setValue(helper, "@", "Ombrel");
    return registry.save();
}

bool Registration::unregisterServer(RegistryTree& registry) {
    registry.removeTree(join(kHelperKey, kP3PObjectClsid));
    for (const ClassEntry& entry : kClasses) {
        registry.removeTree(join("HKCR", entry.progId));
        registry.removeTree(join("HKCR", entry.currentProgId));
        registry.removeTree(classKey(entry));
    }
    return registry.save();
}

}  // namespace perchlight
