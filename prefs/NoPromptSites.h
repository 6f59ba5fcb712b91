#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <vector>

#include "util/Url.h"

namespace perchlight {

// The sites exempt from the form warning, each a site base (scheme, host and port), kept in
// "NoPromptSites.p3p" as one URL per line. A site counts as exempt when present, whatever its
// flag. A plain value; the preference store guards its copy.
class NoPromptSites {
  public:
    // A token longer than this is not a site and is passed over.
    static constexpr std::size_t kMaxTokenLength = 2047;
    // A longer file is read as a missing one.
    static constexpr std::size_t kMaxFileSize = 4 * 1024 * 1024;

    bool contains(const Url& site) const { return sites_.contains(site); }
    void add(const Url& site, bool flag) { sites_[site] = flag; }
    // Replaces the sites with these, all flagged true.
    void assign(const std::vector<Url>& sites);
    // Replaces the sites with the whitespace-separated tokens of the file that are URLs.
    void read(const std::string& path);
    // Writes every site, one per line, replacing the file atomically; false when that fails.
    bool write(const std::string& path) const;

    const std::map<Url, bool>& sites() const { return sites_; }

  private:
    std::map<Url, bool> sites_;
};

}  // namespace perchlight
