#pragma once

#include <QString>
#include <QWebEngineScript>

#include <optional>

#include "shell/BrowserHelper.h"

namespace perchlight {

// The script that reports each document's facts from inside the page, and the reading of its
// reports. It runs in every frame, in an isolated world that page scripts can neither see nor
// alter, and reports once per document on its load event as one console line that begins with a
// prefix drawn at random once per process, so a page cannot forge a report. A document also
// reports its about:blank frames, in which no script runs. The text lives here only.
// Thread-safe.
class FrameFactsScript {
  public:
    // A document lists at most this many elements (the rest are left out), and an attribute
    // value longer than kMaxAttributeLength is reported empty: a hostile page could otherwise
    // make every report megabytes long.
    static constexpr int kMaxElements = 2000;
    static constexpr int kMaxAttributeLength = 8192;
    // Frame paths deeper than this are not reported.
    static constexpr int kMaxFrameDepth = 16;

    // The script, ready to be added to a page's script collection.
    static QWebEngineScript script();
    // The facts of a report line; nothing when the line is not one of this process's reports or
    // does not hold well-formed facts.
    static std::optional<DocumentFacts> parseReport(const QString& consoleMessage);
    // The prefix of this process's reports.
    static const QString& prefix();
};

}  // namespace perchlight
