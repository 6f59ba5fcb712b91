#pragma once

#include <map>
#include <set>
#include <string>

namespace perchlight {

// For every site at which cookies were seen, the other sites whose cookies arrived while it was
// shown; kept in "CookieHistory.xml". Entries are only ever added. A plain value; the preference
// store guards its copy.
class CookieHistory {
  public:
    using Sites = std::map<std::string, std::set<std::string>>;

    // Records that other set a cookie while first was shown; an empty first records nothing, an
    // empty other or one equal to first records first alone.
    void record(const std::string& first, const std::string& other);
    // Adds the entries of the file to those held; a missing, malformed or foreign file adds none.
    void mergeFile(const std::string& path);
    // Writes every entry to the file, replacing it atomically; raises the XmlFile writer's errors.
    void writeFile(const std::string& path) const;

    const Sites& sites() const { return sites_; }

  private:
    Sites sites_;
};

}  // namespace perchlight
