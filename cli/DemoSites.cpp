#include "cli/DemoSites.h"

#include <httplib.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "util/Error.h"
#include "util/FileReader.h"

namespace perchlight::cli {
namespace {

constexpr const char* kUnit = "DemoSites";
constexpr const char* kManifest = "demo.json";
constexpr std::chrono::seconds kStartTimeout(10);

namespace fs = std::filesystem;

std::string readWhole(const fs::path& path) {
    FileReader::Failure failure = FileReader::Failure::kNone;
    std::optional<std::string> bytes = FileReader::read(path, DemoSites::kMaxFileSize, &failure);
    if (!bytes) {
        PERCHLIGHT_RAISE(
            "Cannot read demo file " + path.string() + ": " + FileReader::describe(failure), kUnit);
    }
    return std::move(*bytes);
}

std::string contentTypeOf(const fs::path& path) {
    static const std::map<std::string, std::string> types = {{".html", "text/html"},
                                                             {".htm", "text/html"},
                                                             {".xml", "text/xml"},
                                                             {".css", "text/css"},
                                                             {".svg", "image/svg+xml"}};
    const auto found = types.find(path.extension().string());
    return found == types.end() ? "application/octet-stream" : found->second;
}

// A site's name is one plain folder name, so it cannot reach outside the sites directory.
bool isPlainName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of("/\\") == std::string::npos;
}

void replaceAll(std::string& text, const std::string& from, const std::string& to) {
    for (std::size_t at = text.find(from); at != std::string::npos;
         at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
}

}  // namespace

DemoSites::DemoSites(const std::string& directory) {
    readManifest(directory);
}

DemoSites::~DemoSites() {
    for (const auto& server : servers_) {
        server->stop();
    }
    for (std::thread& thread : threads_) {
        thread.join();
    }
}

void DemoSites::readManifest(const std::string& directory) {
    nlohmann::json manifest;
    try {
        manifest = nlohmann::json::parse(readWhole(fs::path(directory) / kManifest));
        for (const nlohmann::json& entry : manifest.at("sites")) {
            DemoSite site;
            site.name = entry.at("name").get<std::string>();
            site.page = entry.at("page").get<std::string>();
            site.expected = entry.at("expected").get<std::string>();
            site.post = entry.value("post", false);
            site.about = entry.value("about", std::string());
            if (!isPlainName(site.name) || sites_.size() >= kMaxSites) {
                PERCHLIGHT_RAISE("Invalid demo site " + site.name, kUnit);
            }
            Content content;
            readFiles((fs::path(directory) / site.name).string(), content);
            content.notFound = entry.value("notFound", std::string());
            if (entry.contains("headers")) {
                content.headers =
                    entry.at("headers")
                        .get<std::map<std::string, std::map<std::string, std::string>>>();
            }
            sites_.push_back(std::move(site));
            contents_.push_back(std::move(content));
        }
    } catch (const nlohmann::json::exception& error) {
        PERCHLIGHT_RAISE("Invalid demo manifest: " + std::string(error.what()), kUnit);
    }
}

void DemoSites::readFiles(const std::string& folder, Content& content) const {
    std::error_code error;
    for (fs::recursive_directory_iterator it(folder, error), end; !error && it != end;
         it.increment(error)) {
        if (!it->is_regular_file()) {
            continue;
        }
        if (content.files.size() >= kMaxFilesPerSite) {
            PERCHLIGHT_RAISE("Too many files in demo site " + folder, kUnit);
        }
        const std::string path = "/" + fs::relative(it->path(), folder).generic_string();
        content.files[path] = File{readWhole(it->path()), contentTypeOf(it->path())};
    }
    if (error || content.files.empty()) {
        PERCHLIGHT_RAISE("Cannot read demo site " + folder, kUnit);
    }
}

std::string DemoSites::withBaseUrls(std::string text) const {
    for (const DemoSite& site : sites_) {
        replaceAll(text, "{{" + site.name + "}}", site.baseUrl);
    }
    return text;
}

void DemoSites::install(httplib::Server& server, const Content& content) const {
    server.Get(".*", [&content](const httplib::Request& request, httplib::Response& response) {
        auto file = content.files.find(request.path);
        if (file == content.files.end() && !content.notFound.empty()) {
            file = content.files.find(content.notFound);
        }
        if (file == content.files.end()) {
            response.status = 404;
            response.set_content("Not found", "text/plain");
            return;
        }
        response.set_content(file->second.body, file->second.contentType);
        if (const auto headers = content.headers.find(request.path);
            headers != content.headers.end()) {
            for (const auto& [name, value] : headers->second) {
                response.set_header(name, value);
            }
        }
    });
}

void DemoSites::start() {
    for (DemoSite& site : sites_) {
        auto server = std::make_unique<httplib::Server>();
        const int port = server->bind_to_any_port("127.0.0.1");
        if (port <= 0) {
            PERCHLIGHT_RAISE("No loopback port for demo site " + site.name, kUnit);
        }
        site.baseUrl = "http://127.0.0.1:" + std::to_string(port);
        servers_.push_back(std::move(server));
    }
    for (Content& content : contents_) {
        for (auto& [path, file] : content.files) {
            if (file.contentType.starts_with("text/") || file.contentType.ends_with("+xml")) {
                file.body = withBaseUrls(std::move(file.body));
            }
        }
        for (auto& [path, headers] : content.headers) {
            for (auto& [name, value] : headers) {
                value = withBaseUrls(std::move(value));
            }
        }
    }
    for (std::size_t i = 0; i < servers_.size(); ++i) {
        install(*servers_[i], contents_[i]);
        httplib::Server& server = *servers_[i];
        threads_.emplace_back([&server] { server.listen_after_bind(); });
    }
    const auto deadline = std::chrono::steady_clock::now() + kStartTimeout;
    for (std::size_t i = 0; i < servers_.size(); ++i) {
        while (!servers_[i]->is_running()) {
            if (std::chrono::steady_clock::now() > deadline) {
                PERCHLIGHT_RAISE("Demo site " + sites_[i].name + " does not serve", kUnit);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
}

}  // namespace perchlight::cli
