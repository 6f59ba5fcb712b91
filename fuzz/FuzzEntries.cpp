#include "fuzz/FuzzEntries.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>

#include "browser/HtmlScanner.h"
#include "browser/ReportedPage.h"
#include "cli/SurveyInput.h"
#include "core/BaseDataSchema.h"
#include "core/CompactPolicy.h"
#include "core/P3PEvaluator.h"
#include "core/WildcardMatch.h"
#include "core/XmlNode.h"
#include "host/FrameReader.h"
#include "host/HostSession.h"
#include "host/MessageDecoder.h"
#include "prefs/CookieHistory.h"
#include "prefs/CookiePreferences.h"
#include "prefs/RegistryKey.h"
#include "retrieval/Globals.h"
#include "retrieval/PolicyCache.h"
#include "retrieval/ReferenceStore.h"
#include "summary/PolicySummary.h"
#include "summary/SummaryPage.h"
#include "summary/TemplateEngine.h"
#include "util/Error.h"
#include "util/RegistryTree.h"

#ifndef PERCHLIGHT_DATA_DIR
#error "PERCHLIGHT_DATA_DIR names the bundled data folder"
#endif

namespace perchlight::fuzz {
namespace {

namespace fs = std::filesystem;

std::string bytes(const std::uint8_t* data, std::size_t size) {
    return std::string(reinterpret_cast<const char*>(data), size);
}

std::string readData(const std::string& name) {
    std::ifstream in(fs::path(PERCHLIGHT_DATA_DIR) / name, std::ios::binary);
    if (!in) {
        std::abort();  // the fixed inputs must be there, or every run tests nothing
    }
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// A scratch folder of this process for the file-reading entries, removed at exit.
class ScratchDirectory {
  public:
    ScratchDirectory() {
        std::string name = (fs::temp_directory_path() / "perchlight-fuzz-XXXXXX").string();
        if (!mkdtemp(name.data())) {
            std::abort();
        }
        path_ = name;
    }
    ~ScratchDirectory() {
        std::error_code error;
        fs::remove_all(path_, error);
    }
    // Writes the bytes as the named file of the folder; the file's path.
    std::string write(const std::string& name, const std::uint8_t* data, std::size_t size) const {
        const std::string file = (path_ / name).string();
        std::ofstream(file, std::ios::binary | std::ios::trunc)
            .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
        return file;
    }
    const fs::path& path() const { return path_; }

  private:
    fs::path path_;
};

ScratchDirectory& scratch() {
    static ScratchDirectory directory;
    return directory;
}

BaseDataSchema& shippedSchema() {
    static BaseDataSchema schema(std::string(PERCHLIGHT_DATA_DIR) + "/" +
                                 BaseDataSchema::kFileName);
    return schema;
}

// True when the policy came to a verdict.
bool evaluate(const std::string& ruleSet, const std::string& policy, MatchResult& result) {
    try {
        P3PEvaluator(nullptr, shippedSchema(), buildSummary)
            .evaluatePolicy(ruleSet, policy, Url("http://www.example.com/w3c/p3p.xml"), "", result);
    } catch (const Error&) {
        return false;
    }
    return result.state == kStateNoConflict || result.state == kStateConflict;
}

void evaluate(const std::string& ruleSet, const std::string& policy) {
    MatchResult result;
    evaluate(ruleSet, policy, result);
}

}  // namespace

void fuzzXmlParse(const std::uint8_t* data, std::size_t size) {
    try {
        XmlNode::parseXmlBuffer(reinterpret_cast<const char*>(data), size);
    } catch (const Error&) {
    }
}

void fuzzPolicyEvaluation(const std::uint8_t* data, std::size_t size) {
    static const std::string ruleSet = readData("appel-high.xml");
    evaluate(ruleSet, bytes(data, size));
}

void fuzzRuleSetEvaluation(const std::uint8_t* data, std::size_t size) {
    static const std::string policy = readData("examples/marketing.xml");
    evaluate(bytes(data, size), policy);
}

void fuzzReferenceFile(const std::uint8_t* data, std::size_t size) {
    ReferenceStore store;
    const Url file("http://www.example.com/w3c/p3p.xml");
    try {
        store.readReferenceFile(file, bytes(data, size));
        for (const char* page : {"http://www.example.com/", "http://www.example.com/a/b?c=d",
                                 "https://www.example.com:8443/w3c/p3p.xml"}) {
            for (const char* method : {"GET", "POST", "DELETE"}) {
                store.lookupPolicy(Url(page), method);
            }
            store.referenceFilesFor(Url(page));
        }
        store.lookupCookiePolicy("session", "abc", ".example.com", "/");
        store.lookupCookiePolicy("", "", "www.example.com", "/a/");
        store.referenceFile(file);
    } catch (const Error&) {
    }
}

void fuzzCacheIndex(const std::uint8_t* data, std::size_t size) {
    const fs::path directory = scratch().path() / "cache";
    std::error_code error;
    fs::remove_all(directory, error);
    fs::create_directories(directory);
    std::ofstream(directory / "cacheindex.xml", std::ios::binary)
        .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    PolicyCache cache(
        directory.string(), [] { return std::int64_t{1700000000}; },
        [](const std::string&, std::string&) { return std::nullopt; });
    try {
        cache.loadCacheIndex();
        for (const PolicyCache::Listing& entry : cache.list()) {
            cache.readCachedDocument(entry.url);
        }
        cache.writeCacheIndex();
    } catch (const Error&) {
    }
}

void fuzzCookiePreferences(const std::uint8_t* data, std::size_t size) {
    CookiePreferences preferences;
    preferences.read(scratch().write("p3pcookiepreferences.xml", data, size));
    try {
        preferences.write((scratch().path() / "written-preferences.xml").string());
    } catch (const Error&) {
    }
}

void fuzzCookieHistory(const std::uint8_t* data, std::size_t size) {
    CookieHistory history;
    history.mergeFile(scratch().write("CookieHistory.xml", data, size));
    try {
        history.writeFile((scratch().path() / "written-history.xml").string());
    } catch (const Error&) {
    }
}

void fuzzWildcardMatch(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t split = input.find('\0');
    const std::string_view pattern = input.substr(0, split);
    const std::string_view text = split == input.npos ? "" : input.substr(split + 1);
    wildcardMatch(pattern, text);
    // Every text matches itself and "*"; a fault in either is a wrong verdict on a site.
    if (!wildcardMatch(text, text) || !wildcardMatch("*", text)) {
        std::abort();
    }
}

void fuzzTemplateEngine(const std::uint8_t* data, std::size_t size) {
    static const std::string ruleSet = readData("appel-high.xml");
    static const std::string fallbackPolicy = readData("examples/marketing.xml");
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t split = input.find('\0');
    const std::string_view text = input.substr(0, split);
    const std::string policy(split == input.npos ? "" : input.substr(split + 1));
    MatchResult result;
    if (policy.empty() || !evaluate(ruleSet, policy, result)) {
        result = MatchResult();
        evaluate(ruleSet, fallbackPolicy, result);
    }
    const SummaryPage page("http://www.example.com/module/");
    const std::string filled = fill(text, [&](std::string_view key, std::string_view format) {
        return page.pageKeys(key, format, result);
    });
    linkOptOuts(filled, escapeHtml(result.optOutUri));
    int number = 0;
    for (const StatementRecord& statement : result.summary.statements) {
        fill(text, [&](std::string_view key, std::string_view format) {
            return page.statementKeys(key, format, statement, ++number);
        });
    }
    page.tooltipText(result);
}

void fuzzCompactPolicy(const std::uint8_t* data, std::size_t size) {
    static const std::vector<std::string> implied = {"NOI", "DSP", "CUR", "TELo",
                                                     "UNR", "STP", "PUR", "PHY"};
    const std::string text = bytes(data, size);
    std::vector<std::string> values = p3pHeaderValues(text);
    values.push_back(text);  // the bytes as one header value too
    for (const std::string& value : values) {
        const CompactPolicy compact = parseCompactPolicy(compactPolicyField(value).value_or(value));
        for (const CompactProblem& problem : compact.problems) {
            compactProblemText(problem);
        }
        compareCompactPolicy(compact, implied);
    }
}

void fuzzHostMessage(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return;
    }
    const std::size_t piece = 1 + data[0] % 64;
    std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);
    FrameReader reader(kMaxRequestBytes);
    const auto answer = [](const Frame& frame) {
        if (frame.kind != Frame::Kind::kMessage) {
            return;
        }
        try {
            const Request request = decodeRequest(frame.body);
            const Fields fields(request.message);
            if (request.type == "page") {
                fields.tab();
                fields.webUrl("url");
                (void)readReportedHeaders(fields);
                (void)ReportedPage::collect(readDocuments(fields));
            }
            (void)fitReply(nlohmann::json{{"id", request.id}, {"ok", true}, {"text", frame.body}});
        } catch (const RequestError& error) {
            (void)encodeReply(errorReply(requestIdOf(frame.body), error.what()));
        } catch (const Error&) {
        }
    };
    while (!rest.empty()) {
        const std::size_t count = std::min(piece, rest.size());
        reader.feed(rest.substr(0, count));
        rest.remove_prefix(count);
        while (std::optional<Frame> frame = reader.next()) {
            answer(*frame);
        }
    }
}

void fuzzHtmlScanner(const std::uint8_t* data, std::size_t size) {
    static const Url page("http://www.example.com/dir/page.html");
    const std::string_view html(reinterpret_cast<const char*>(data), size);
    if (HtmlScanner::readablePrefix(html) > size) {
        std::abort();
    }
    try {
        HtmlScanner::scan(html, page);
    } catch (const Error&) {
    }
}

void fuzzP3PHeader(const std::uint8_t* data, std::size_t size) {
    static const Url page("http://www.example.com/dir/page.html");
    const std::string text = bytes(data, size);
    try {
        extractPolicyRef(text, page);
        std::vector<SeenP3PHeader> seen;
        for (const std::string& value : p3pHeaderValues(text)) {
            const Url reference = extractPolicyRef(value, page);
            seen.push_back({reference.empty() ? page : reference, value});
        }
        compactPolicyFor(seen, page);
        if (!seen.empty()) {
            compactPolicyFor(seen, seen.back().url);
        }
    } catch (const Error&) {
    }
}

namespace {

std::vector<std::string> split(std::string_view text, char separator) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find(separator, start)) != text.npos; start = end + 1) {
        parts.emplace_back(text.substr(start, end - start));
    }
    parts.emplace_back(text.substr(start));
    return parts;
}

}  // namespace

void fuzzReportedPage(const std::uint8_t* data, std::size_t size) {
    std::vector<ReportedDocument> documents;
    try {
        for (const std::string& part : split(bytes(data, size), '\0')) {
            const std::vector<std::string> lines = split(part, '\n');
            ReportedDocument document;
            document.url = Url(lines[0]);
            if (lines.size() > 1) {
                for (const char step : lines[1]) {
                    document.framePath.push_back(static_cast<unsigned char>(step) % 8 - 1);
                }
            }
            for (std::size_t line = 2; line < lines.size(); ++line) {
                std::vector<std::string> fields = split(lines[line], '\t');
                fields.resize(6);
                document.elements.push_back(
                    {fields[0], fields[1], fields[2], fields[3], fields[4], fields[5]});
            }
            documents.push_back(std::move(document));
        }
        ReportedPage::collect(documents);
    } catch (const Error&) {
    }
}

void fuzzSurveyInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t split = input.find('\0');
    const std::string list(input.substr(0, split));
    std::istringstream in(list);
    const std::vector<std::string> addresses = cli::readSurveyList(in);
    const cli::Shard shard =
        cli::parseShard(list.substr(0, list.find('\n'))).value_or(cli::Shard{0, 3});
    if (shard.count == 0 || shard.index >= shard.count) {
        std::abort();  // a shard that selects nothing, or divides by zero
    }
    for (const std::string& address : addresses) {
        cli::inShard(address, shard);
        cli::absoluteAddress(address);
    }
    if (split == input.npos) {
        return;
    }
    const std::string_view output = input.substr(split + 1);
    for (const bool csv : {false, true}) {
        const std::string path =
            scratch().write(csv ? "survey.csv" : "survey.jsonl", data + split + 1, output.size());
        try {
            cli::recordedAddresses(path, csv);
        } catch (const Error&) {
        }
    }
}

namespace {

// Sets a variable of the environment for the lifetime of this object.
class EnvironmentOverride {
  public:
    EnvironmentOverride(const char* name, const std::string& value) : name_(name) {
        if (const char* old = std::getenv(name)) {
            old_ = old;
        }
        setenv(name, value.c_str(), 1);
    }
    ~EnvironmentOverride() {
        if (old_) {
            setenv(name_, old_->c_str(), 1);
        } else {
            unsetenv(name_);
        }
    }
    EnvironmentOverride(const EnvironmentOverride&) = delete;
    EnvironmentOverride& operator=(const EnvironmentOverride&) = delete;

  private:
    const char* name_;
    std::optional<std::string> old_;
};

void listTree(const RegistryTree& tree, const std::string& key, int depth) {
    tree.value(key, "@");
    if (depth == 0) {
        return;
    }
    for (const std::string& subkey : tree.subkeys(key)) {
        listTree(tree, key + "\\" + subkey, depth - 1);
    }
}

}  // namespace

void fuzzRegistryFile(const std::uint8_t* data, std::size_t size) {
    static const std::string key = "HKCR\\CLSID\\{00000178-CD4A-447a-BCF9-6FD0096B5527}";
    const std::string path = scratch().write("registry", data, size);
    RegistryTree tree;
    if (tree.load(path)) {
        for (const char* root : {"HKCR", "HKLM", "HKCU"}) {
            listTree(tree, root, 4);
        }
        tree.setValue(key, "ThreadingModel", "Apartment");
        tree.removeTree("HKCR\\Interface");
        if (tree.save() && RegistryTree(path).value(key, "ThreadingModel") != "Apartment") {
            std::abort();  // a saved change was lost
        }
    }

    const EnvironmentOverride config("XDG_CONFIG_HOME", (scratch().path() / "config").string());
    const std::string settings = RegistryKey::filePath(RegistryKey::kPerchlightKey);
    std::error_code error;
    fs::create_directories(fs::path(settings).parent_path(), error);
    std::ofstream(settings, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    if (std::optional<RegistryKey> opened = RegistryKey::open(RegistryKey::kPerchlightKey)) {
        opened->setValue("Level", 3);
        if (opened->save()) {
            const std::optional<RegistryKey> saved = RegistryKey::open(RegistryKey::kPerchlightKey);
            if (!saved || saved->value("Level") != 3u) {
                std::abort();  // a saved value was lost
            }
        }
    }
}

const std::vector<Target>& targets() {
    static const std::vector<Target> all = {
        {"xml_parse", fuzzXmlParse},
        {"policy_evaluation", fuzzPolicyEvaluation},
        {"ruleset_evaluation", fuzzRuleSetEvaluation},
        {"reference_file", fuzzReferenceFile},
        {"cache_index", fuzzCacheIndex},
        {"cookie_preferences", fuzzCookiePreferences},
        {"cookie_history", fuzzCookieHistory},
        {"wildcard_match", fuzzWildcardMatch},
        {"template_engine", fuzzTemplateEngine},
        {"compact_policy", fuzzCompactPolicy},
        {"host_message", fuzzHostMessage},
        {"html_scanner", fuzzHtmlScanner},
        {"p3p_header", fuzzP3PHeader},
        {"reported_page", fuzzReportedPage},
        {"survey_input", fuzzSurveyInput},
        {"registry_file", fuzzRegistryFile},
    };
    return all;
}

Entry findEntry(const std::string& name) {
    for (const Target& target : targets()) {
        if (name == target.name) {
            return target.entry;
        }
    }
    return nullptr;
}

}  // namespace perchlight::fuzz
