#pragma once

#include <cstddef>
#include <map>
#include <vector>

#include "shell/BrowserHelper.h"

namespace perchlight {

// The facts of the documents of one page, one entry per frame path: a frame that navigates
// replaces its entry. Not thread-safe.
class DocumentFactsTable {
  public:
    // At most this many documents are kept for a page; a hostile page could frame without end.
    static constexpr std::size_t kMaxDocuments = 64;

    void clear() { m_documents.clear(); }
    // Keeps the facts under their frame path. Frames of the document's former content beyond its
    // present number of frames are dropped; the others stay, since a frame reports before the
    // document around it.
    void add(DocumentFacts facts);
    // Whether the top document and every frame of every reported document have reported (a
    // frame past the limits is not waited for).
    bool complete() const;
    // The top document first, then the frames in depth-first document order.
    std::vector<DocumentFacts> documents() const;

  private:
    std::map<std::vector<int>, DocumentFacts> m_documents;  // path order is document order
};

}  // namespace perchlight
