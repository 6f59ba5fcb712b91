#include "browser/ReportedPage.h"

#include <map>

namespace perchlight {
namespace {

using Documents = std::map<std::vector<int>, const ReportedDocument*>;

void append(EmbeddedItem item, CollectedPage& page) {
    if (page.embedded.size() < PageCollector::kMaxItems) {
        page.embedded.push_back(std::move(item));
    } else {
        page.truncated = true;
    }
}

void collectDocument(const ReportedDocument& document, const Documents& documents,
                     CollectedPage& page) {
    const ScannedDocument scanned = EmbeddedContentTable::read(document.elements, document.url);
    for (const EmbeddedItem& item : scanned.items) {
        append(item, page);
    }
    std::vector<int> path = document.framePath;
    path.push_back(0);
    for (std::size_t i = 0; i < scanned.frames.size(); ++i) {
        path.back() = static_cast<int>(i);
        const auto child = documents.find(path);
        if (child == documents.end() || child->second->url.empty()) {
            append({"Frame/IFrame", scanned.frames[i]}, page);
            continue;
        }
        append({"Frame/IFrame", child->second->url}, page);
        if (path.size() <= static_cast<std::size_t>(PageCollector::kMaxFrameDepth)) {
            collectDocument(*child->second, documents, page);
        }
    }
}

}  // namespace

CollectedPage ReportedPage::collect(const std::vector<ReportedDocument>& documents) {
    Documents byPath;
    for (const ReportedDocument& document : documents) {
        byPath.emplace(document.framePath, &document);
    }
    CollectedPage page;
    const auto top = byPath.find({});
    if (top == byPath.end() || top->second->url.empty()) {
        return page;
    }
    page.linkPolicyRef =
        EmbeddedContentTable::read(top->second->elements, top->second->url).linkPolicyRef;
    collectDocument(*top->second, byPath, page);
    return page;
}

}  // namespace perchlight
