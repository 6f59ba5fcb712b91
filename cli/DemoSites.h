#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace httplib {
class Server;
}

namespace perchlight::cli {

// One bundled demo site as the manifest describes it, with the base URL it is served at.
struct DemoSite {
    std::string name;      // its folder below the sites directory
    std::string page;      // the path of the page the demo checks
    bool post = false;     // the page is reached by posting a form
    std::string expected;  // the verdict word the check should give
    std::string about;     // one line on what the site shows
    std::string baseUrl;   // "http://127.0.0.1:PORT", once served
};

// The bundled demo sites of a sites directory ("demo.json" and one folder per site), each served
// by an HTTP server of its own on 127.0.0.1 and a port of its own, so that each is its own site.
// "{{name}}" in a served file or header becomes the base URL of the demo site of that name. The
// files are read into memory before serving; nothing else on disk is served. Raises Error (unit
// DemoSites) for a manifest or a site folder it cannot read. The servers run until the object
// goes; their handlers only read what was loaded.
class DemoSites {
  public:
    // Bounds on what a sites directory may hold; the bundled sites are far below them.
    static constexpr std::size_t kMaxSites = 64;
    static constexpr std::size_t kMaxFilesPerSite = 256;
    static constexpr std::size_t kMaxFileSize = 1 << 20;

    // Reads the manifest and the files of every site it names.
    explicit DemoSites(const std::string& directory);
    ~DemoSites();
    DemoSites(const DemoSites&) = delete;
    DemoSites& operator=(const DemoSites&) = delete;

    // Binds a loopback port for every site, fills in the placeholders and starts serving.
    void start();
    const std::vector<DemoSite>& sites() const { return sites_; }

  private:
    struct File {
        std::string body;
        std::string contentType;
    };
    struct Content {
        std::map<std::string, File> files;                                  // path -> file
        std::map<std::string, std::map<std::string, std::string>> headers;  // path -> headers
        std::string notFound;  // path of the page that answers any other path, or empty
    };

    void readManifest(const std::string& directory);
    void readFiles(const std::string& folder, Content& content) const;
    std::string withBaseUrls(std::string text) const;
    void install(httplib::Server& server, const Content& content) const;

    std::vector<DemoSite> sites_;
    std::vector<Content> contents_;
    std::vector<std::unique_ptr<httplib::Server>> servers_;
    std::vector<std::thread> threads_;
};

}  // namespace perchlight::cli
