#include "ui/EmbeddedContentSnapshot.h"

#include "retrieval/P3PMatchInfo.h"

namespace perchlight {

EmbeddedContentSnapshot EmbeddedContentSnapshot::take(const P3PMatchInfo& info) {
    std::vector<EmbeddedContentRow> rows;
    for (const Url& item : info.embeddedUrls()) {
        EmbeddedContentRow row;
        row.url = item.str();
        row.state = info.embeddedState(item);
        row.contentType = info.contentType(item);
        row.policyUrl = info.embeddedPolicyUrl(item).str();
        row.result = info.embeddedResult(item);
        rows.push_back(std::move(row));
    }
    return EmbeddedContentSnapshot(std::move(rows));
}

}  // namespace perchlight
