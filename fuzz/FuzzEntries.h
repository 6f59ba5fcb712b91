#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace perchlight::fuzz {

// One way of feeding outside bytes to the core. Each entry takes any bytes at all: errors the core
// raises for bad input are the expected outcome; a crash, a hang, a sanitizer report or any other
// exception is a fault. The fuzzers and the regression test call the same entries.
using Entry = void (*)(const std::uint8_t* data, std::size_t size);

struct Target {
    const char* name;  // also the folder of its seeds and kept regression inputs
    Entry entry;
};

// Every target, by name.
const std::vector<Target>& targets();

// The entry of the named target, or null.
Entry findEntry(const std::string& name);

void fuzzXmlParse(const std::uint8_t* data, std::size_t size);
// The bytes as a policy against the installed high rule set, with the shipped base schema.
void fuzzPolicyEvaluation(const std::uint8_t* data, std::size_t size);
// The bytes as a rule set against a fixed marketing policy.
void fuzzRuleSetEvaluation(const std::uint8_t* data, std::size_t size);
// The bytes as a policy reference file, then lookups of pages, methods and cookies.
void fuzzReferenceFile(const std::uint8_t* data, std::size_t size);
// The bytes as a cache index, loaded, listed and written back.
void fuzzCacheIndex(const std::uint8_t* data, std::size_t size);
// The bytes as a cookie preference file, read and written back.
void fuzzCookiePreferences(const std::uint8_t* data, std::size_t size);
// The bytes as a cookie history file, merged and written back.
void fuzzCookieHistory(const std::uint8_t* data, std::size_t size);
// Pattern and text separated by the first NUL byte.
void fuzzWildcardMatch(const std::uint8_t* data, std::size_t size);
// A summary template and a policy separated by the first NUL byte: the policy (the bundled
// marketing example when it is empty or cannot be evaluated) is evaluated against the installed
// high rule set, and the template is filled with that result as page, statements and tooltip.
void fuzzTemplateEngine(const std::uint8_t* data, std::size_t size);

// The bytes as the raw header text of a response: its P3P header values, the compact policy of
// each read, validated and compared with the tokens of the bundled marketing example.
void fuzzCompactPolicy(const std::uint8_t* data, std::size_t size);

// The bytes as the browser's stream to the native host, after a first byte that sets the size of
// the pieces it arrives in: each frame is decoded as a request, a "page" request's documents are
// read and collected, and every reply is encoded as the host sends it.
void fuzzHostMessage(const std::uint8_t* data, std::size_t size);
// The bytes as an HTML page read by the headless scanner.
void fuzzHtmlScanner(const std::uint8_t* data, std::size_t size);
// The bytes as the raw header text of a page's response: its "policyref=" and its P3P header
// values, each value read for a "policyref=" too, and the compact policy looked up per address.
void fuzzP3PHeader(const std::uint8_t* data, std::size_t size);
// The bytes as the documents a browser reported of one page, separated by NUL bytes: per
// document a line with its address, a line whose bytes are its frame path (each byte modulo 8,
// less one) and one element a line, its tag, src, codebase, code, rel and href separated by tabs.
void fuzzReportedPage(const std::uint8_t* data, std::size_t size);
// A survey list, a shard ("I/N", its first line) and an earlier run's output separated by the
// first NUL byte: the list is read and sharded, the output read as JSON Lines and as CSV.
void fuzzSurveyInput(const std::uint8_t* data, std::size_t size);
// The bytes as the registry file and then as the settings file: each read, listed, changed and
// saved, and read again to find the change kept.
void fuzzRegistryFile(const std::uint8_t* data, std::size_t size);

}  // namespace perchlight::fuzz
