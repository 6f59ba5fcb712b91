#include "browser/NativeHosts.h"

#include <array>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "util/FileReplacement.h"

namespace perchlight {
namespace {

// The extension's identity comes from extension/identity.json through the build.
constexpr std::string_view kHostName = PERCHLIGHT_HOST_NAME;
constexpr std::string_view kChromiumId = PERCHLIGHT_CHROMIUM_ID;
constexpr std::string_view kGeckoId = PERCHLIGHT_GECKO_ID;

constexpr std::array kBrowsers{
    NativeHostBrowser{"chromium", NativeHostBrowser::Base::kConfigHome,
                      "chromium/NativeMessagingHosts", "/etc/chromium/native-messaging-hosts",
                      ManifestKind::kAllowedOrigins},
    NativeHostBrowser{"chrome", NativeHostBrowser::Base::kConfigHome,
                      "google-chrome/NativeMessagingHosts",
                      "/etc/opt/chrome/native-messaging-hosts", ManifestKind::kAllowedOrigins},
    NativeHostBrowser{"firefox", NativeHostBrowser::Base::kHome, ".mozilla/native-messaging-hosts",
                      "/usr/lib/mozilla/native-messaging-hosts", ManifestKind::kAllowedExtensions},
};

// A JSON string literal of text that holds no control characters but may hold quotes and
// backslashes (a path).
std::string jsonString(std::string_view text) {
    std::string quoted = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            quoted += '\\';
        }
        if (static_cast<unsigned char>(c) < 0x20) {
            static const char* hex = "0123456789abcdef";
            quoted += "\\u00";
            quoted += hex[(c >> 4) & 0xF];
            quoted += hex[c & 0xF];
            continue;
        }
        quoted += c;
    }
    return quoted + "\"";
}

}  // namespace

std::string_view NativeHosts::hostName() {
    return kHostName;
}

std::string_view NativeHosts::chromiumExtensionId() {
    return kChromiumId;
}

std::string_view NativeHosts::geckoExtensionId() {
    return kGeckoId;
}

std::span<const NativeHostBrowser> NativeHosts::browsers() {
    return kBrowsers;
}

std::optional<NativeHostBrowser> NativeHosts::browserNamed(std::string_view name) {
    for (const NativeHostBrowser& browser : kBrowsers) {
        if (browser.name == name) {
            return browser;
        }
    }
    return std::nullopt;
}

std::string NativeHosts::userFolder(const NativeHostBrowser& browser) {
    const char* home = std::getenv("HOME");
    std::filesystem::path base;
    if (browser.base == NativeHostBrowser::Base::kConfigHome) {
        const char* config = std::getenv("XDG_CONFIG_HOME");
        if (config != nullptr && config[0] == '/') {
            base = config;
        } else if (home != nullptr && home[0] == '/') {
            base = std::filesystem::path(home) / ".config";
        }
    } else if (home != nullptr && home[0] == '/') {
        base = home;
    }
    return base.empty() ? std::string() : (base / browser.userFolder).string();
}

std::string NativeHosts::manifestPath(const std::string& folder) {
    return (std::filesystem::path(folder) / (std::string(kHostName) + ".json")).string();
}

std::string NativeHosts::manifest(const NativeHostBrowser& browser, const std::string& hostPath) {
    std::string text = "{\n  \"name\": " + jsonString(kHostName) +
                       ",\n  \"description\": \"Perchlight: P3P privacy policies checked against "
                       "your preferences\",\n  \"path\": " +
                       jsonString(hostPath) + ",\n  \"type\": \"stdio\",\n";
    if (browser.kind == ManifestKind::kAllowedOrigins) {
        text += "  \"allowed_origins\": [" +
                jsonString("chrome-extension://" + std::string(kChromiumId) + "/") + "]\n";
    } else {
        text += "  \"allowed_extensions\": [" + jsonString(kGeckoId) + "]\n";
    }
    return text + "}\n";
}

bool NativeHosts::writeManifest(const NativeHostBrowser& browser, const std::string& folder,
                                const std::string& hostPath) {
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error) {
        return false;
    }
    FileReplacement replacement(manifestPath(folder));
    if (!replacement.reserved()) {
        return false;
    }
    {
        std::ofstream out(replacement.temporaryPath(), std::ios::binary | std::ios::trunc);
        out << manifest(browser, hostPath);
        if (!out.flush()) {
            return false;
        }
    }
    return replacement.commit();
}

bool NativeHosts::removeManifest(const std::string& folder) {
    std::error_code error;
    std::filesystem::remove(manifestPath(folder), error);
    return !std::filesystem::exists(manifestPath(folder), error);
}

}  // namespace perchlight
