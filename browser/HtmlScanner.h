#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "browser/EmbeddedContentTable.h"
#include "util/Url.h"

namespace perchlight {

// Reads HTML documents with an HTML5 parser the way a browser's document object model presents
// them: every element in document order, read by the embedded-content table. Stateless.
class HtmlScanner {
  public:
    // Elements may nest at most this deep (by a conservative count of unclosed tags) before the
    // rest of a document is left unread: the parser's time and memory grow with the square of
    // the depth, and real pages stay far below it.
    static constexpr int kMaxNestingDepth = 512;

    static ScannedDocument scan(std::string_view html, const Url& documentUrl);

    // The length of the longest prefix of html whose estimated nesting stays within the bound.
    static std::size_t readablePrefix(std::string_view html);
};

}  // namespace perchlight
