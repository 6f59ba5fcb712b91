#pragma once

#include <iosfwd>
#include <string>

namespace perchlight {
struct MatchResult;
}

namespace perchlight::cli {

// Prints the plain-language digest of an evaluated policy: business, access, test flag, disputes
// and per statement its data, purposes, recipients and consequence.
void printDigest(std::ostream& out, const MatchResult& result);

// Writes the HTML summary page of an evaluated policy to the file, replacing it atomically; false
// (with a message on err) when it cannot be written.
bool writeSummaryHtml(const MatchResult& result, const std::string& path, std::ostream& err);

}  // namespace perchlight::cli
