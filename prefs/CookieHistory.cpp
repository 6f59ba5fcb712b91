#include "prefs/CookieHistory.h"

#include "core/XmlFile.h"
#include "core/XmlNode.h"
#include "prefs/PreferenceFile.h"
#include "util/Error.h"

namespace perchlight {
namespace {

std::string nameOf(const XmlNode& node) {
    const std::string* name = node.attribute("NAME");
    return name ? *name : std::string();
}

}  // namespace

void CookieHistory::record(const std::string& first, const std::string& other) {
    if (first.empty()) {
        return;
    }
    std::set<std::string>& others = sites_[first];
    if (!other.empty() && other != first) {
        others.insert(other);
    }
}

void CookieHistory::mergeFile(const std::string& path) {
    // A malformed history counts as empty.
    const XmlNodePtr root = XmlNode::parseXmlFileOrNothing(path);
    if (!root || root->name != "COOKIEHISTORY") {
        return;
    }
    for (const XmlNodePtr& mainSite : root->children()) {
        if (mainSite->name != "MAINSITE") {
            continue;
        }
        std::set<std::string>& others = sites_[nameOf(*mainSite)];
        for (const XmlNodePtr& otherSite : mainSite->children()) {
            if (otherSite->name == "OTHERSITE") {
                others.insert(nameOf(*otherSite));
            }
        }
    }
}

void CookieHistory::writeFile(const std::string& path) const {
    PreferenceFile::writeXml(path, [&](XmlFile& file) {
        XmlElementWriter root(file, false);
        root.setNodeName("COOKIEHISTORY");
        for (const auto& [site, others] : sites_) {
            XmlElementWriter mainSite(file, others.empty());
            mainSite.setNodeName("MAINSITE", {"NAME"}, {XmlFile::escapeAttribute(site)});
            for (const std::string& other : others) {
                XmlElementWriter otherSite(file, true);
                otherSite.setNodeName("OTHERSITE", {"NAME"}, {XmlFile::escapeAttribute(other)});
                otherSite.finish();
            }
            mainSite.finish();
        }
        root.finish();
    });
}

}  // namespace perchlight
