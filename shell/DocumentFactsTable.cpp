#include "shell/DocumentFactsTable.h"

#include <algorithm>

#include "shell/FrameFactsScript.h"

namespace perchlight {
namespace {

bool isBelow(const std::vector<int>& path, const std::vector<int>& ancestor) {
    return path.size() > ancestor.size() &&
           std::equal(ancestor.begin(), ancestor.end(), path.begin());
}

}  // namespace

void DocumentFactsTable::add(DocumentFacts facts) {
    const std::vector<int> path = facts.framePath;
    const int childFrames = facts.childFrames;
    for (auto it = m_documents.upper_bound(path);
         it != m_documents.end() && isBelow(it->first, path);) {
        it = it->first[path.size()] >= childFrames ? m_documents.erase(it) : std::next(it);
    }
    if (m_documents.size() >= kMaxDocuments && !m_documents.contains(path)) {
        return;
    }
    m_documents.insert_or_assign(path, std::move(facts));
}

bool DocumentFactsTable::complete() const {
    if (!m_documents.contains({})) {
        return false;
    }
    if (m_documents.size() >= kMaxDocuments) {
        return true;
    }
    for (const auto& [path, facts] : m_documents) {
        if (static_cast<int>(path.size()) >= FrameFactsScript::kMaxFrameDepth) {
            continue;
        }
        std::vector<int> child = path;
        child.push_back(0);
        const int frames = std::min(facts.childFrames, static_cast<int>(kMaxDocuments));
        for (int index = 0; index < frames; ++index) {
            child.back() = index;
            if (!m_documents.contains(child)) {
                return false;
            }
        }
    }
    return true;
}

std::vector<DocumentFacts> DocumentFactsTable::documents() const {
    std::vector<DocumentFacts> documents;
    documents.reserve(m_documents.size());
    for (const auto& [path, facts] : m_documents) {
        documents.push_back(facts);
    }
    return documents;
}

}  // namespace perchlight
