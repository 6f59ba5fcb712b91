#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace perchlight {

// How a browser's host manifest names the extension that may start the host.
enum class ManifestKind {
    kAllowedOrigins,     // Chromium family: "allowed_origins": ["chrome-extension://ID/"]
    kAllowedExtensions,  // Firefox: "allowed_extensions": ["gecko id"]
};

// One browser that starts the native host, and where it looks for host manifests: the per-user
// folder under the user's configuration directory ($XDG_CONFIG_HOME, else ~/.config) or under the
// home directory, and the system-wide folder.
struct NativeHostBrowser {
    std::string_view name;  // as `perchlight register --browser` takes it
    enum class Base { kConfigHome, kHome } base;
    std::string_view userFolder;    // below base
    std::string_view systemFolder;  // absolute
    ManifestKind kind;
};

// The browsers, the folders they read and the extension's identity: the one table that
// `perchlight register --browser` and the installation use. Stateless.
class NativeHosts {
  public:
    // The native host's name, the file name of its manifest without ".json".
    static std::string_view hostName();
    static std::string_view chromiumExtensionId();
    static std::string_view geckoExtensionId();

    static std::span<const NativeHostBrowser> browsers();
    static std::optional<NativeHostBrowser> browserNamed(std::string_view name);

    // The per-user folder of the browser (empty when the home directory is not known).
    static std::string userFolder(const NativeHostBrowser& browser);
    // The manifest's path in a folder.
    static std::string manifestPath(const std::string& folder);
    // The manifest's text for the host program at hostPath (an absolute path).
    static std::string manifest(const NativeHostBrowser& browser, const std::string& hostPath);

    // Writes the manifest into the folder, creating it; false when that fails.
    static bool writeManifest(const NativeHostBrowser& browser, const std::string& folder,
                              const std::string& hostPath);
    // Removes the manifest from the folder; true when none is left there.
    static bool removeManifest(const std::string& folder);
};

}  // namespace perchlight
