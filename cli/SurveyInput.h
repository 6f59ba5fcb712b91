#pragma once

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace perchlight::cli {

// An address as a user writes it, made absolute: a bare host name (no "://") is taken as
// "http://host/", a host with a path as "http://host/path".
std::string absoluteAddress(const std::string& address);

// The addresses of a survey list: one a line, blank lines and lines starting with "#" skipped,
// surrounding white space dropped, a bare host name (no "://") taken as "http://host/". Each
// address is kept once, at its first line.
std::vector<std::string> readSurveyList(std::istream& in);

// Shard I of N (0 <= I < N): the addresses whose stable hash leaves the remainder I.
struct Shard {
    unsigned index = 0;
    unsigned count = 1;
};
// "I/N"; none when it is not such a pair.
std::optional<Shard> parseShard(const std::string& text);
// FNV-1a over the address's bytes: the same on every machine and every run.
std::uint64_t stableHash(const std::string& address);
bool inShard(const std::string& address, const Shard& shard);

// The addresses an earlier run recorded in the output file (JSON Lines, or CSV when csv is
// set). A last line without its line end was cut off when the run was stopped: it is removed
// from the file, so that the run can append. A missing file records nothing.
std::set<std::string> recordedAddresses(const std::string& outputPath, bool csv);

}  // namespace perchlight::cli
