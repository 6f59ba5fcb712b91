#include "retrieval/PolicyCache.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>
#include <system_error>

#include "core/XmlFile.h"
#include "core/XmlNode.h"
#include "retrieval/CheckDocuments.h"
#include "retrieval/Globals.h"
#include "retrieval/HttpClient.h"
#include "retrieval/RetrievalLock.h"
#include "util/Error.h"
#include "util/FileLock.h"
#include "util/FileReader.h"
#include "util/FileReplacement.h"

namespace perchlight {
namespace {

namespace fs = std::filesystem;

constexpr const char* kIndexName = "cacheindex.xml";
constexpr const char* kIndexLockName = "cacheindex.xml.lock";
constexpr const char* kCannotWrite =
    "Could not open file for writing, File could be locked by other program";

std::int64_t systemSeconds() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// Leading decimal digits, 0 when there are none; saturates instead of overflowing.
std::int64_t leadingNumber(const std::string& text) {
    std::int64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            break;
        }
        if (value > (std::numeric_limits<std::int64_t>::max() - 9) / 10) {
            return std::numeric_limits<std::int64_t>::max() / 2;
        }
        value = value * 10 + (c - '0');
    }
    return value;
}

// Cache files are only ever named "temp" and digits; an index naming anything else (a path
// outside the directory, say) is not believed, so loading it can never delete a foreign file.
bool isCacheFileName(const std::string& name) {
    if (name.size() <= 4 || name.size() > 9 || name.compare(0, 4, "temp") != 0) {
        return false;
    }
    return name.find_first_not_of("0123456789", 4) == std::string::npos;
}

// A link is never a cache file, so nothing is read or deleted through one.
bool isRegularFile(const std::string& path) {
    std::error_code error;
    return fs::symlink_status(path, error).type() == fs::file_type::regular;
}

void removeFile(const std::string& path) {
    std::error_code error;
    fs::remove(path, error);
}

bool writeWholeFile(std::FILE* file, const std::string& text) {
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    return std::fclose(file) == 0 && written;
}

// Splits raw response header text into header fields; status lines and blank lines are skipped.
HttpHeaders parseHeaderText(const std::string& text) {
    HttpHeaders headers;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        const std::size_t colon = line.find(':');
        if (line.rfind("HTTP/", 0) == 0 || colon == std::string::npos || colon == 0) {
            continue;
        }
        const std::size_t valueStart = line.find_first_not_of(" \t", colon + 1);
        headers.emplace(line.substr(0, colon),
                        valueStart == std::string::npos ? "" : line.substr(valueStart));
    }
    return headers;
}

}  // namespace

PolicyCache::PolicyCache(std::string directory, Clock clock, Fetch fetch)
    : directory_(std::move(directory)),
      clock_(clock ? std::move(clock) : Clock(systemSeconds)),
      ownFetch_(static_cast<bool>(fetch)),
      fetch_(fetch ? std::move(fetch) : Fetch([](const std::string& url, std::string& headers) {
          return HttpClient::fetchDocument(url, headers);
      })),
      tempNamer_(uniqueTempName) {}

std::string PolicyCache::filePath(const std::string& fileName) const {
    return directory_ + "/" + fileName;
}

void PolicyCache::setEntry(const std::string& url, Entry entry) {
    if (const auto known = entries_.find(url); known != entries_.end()) {
        removeEntry(known, false);
    }
    if (!entry.fileName.empty()) {
        owners_[entry.fileName] = url;
    }
    entries_.emplace(url, std::move(entry));
}

void PolicyCache::removeEntry(std::map<std::string, Entry>::iterator entry, bool deleteFile) {
    const std::string fileName = entry->second.fileName;
    if (const auto owner = owners_.find(fileName);
        owner != owners_.end() && owner->second == entry->first) {
        owners_.erase(owner);
    }
    entries_.erase(entry);
    if (deleteFile) {
        deleteUnusedFile(fileName);
    }
}

void PolicyCache::deleteUnusedFile(const std::string& fileName) const {
    if (isCacheFileName(fileName) && !owners_.contains(fileName) && !writing_.contains(fileName)) {
        removeFile(filePath(fileName));
    }
}

std::optional<std::string> PolicyCache::getDocument(const std::string& url, HttpHeaders* headers) {
    if (url.empty()) {
        return std::nullopt;
    }
    const std::string documentUrl = Url::withoutFragment(url);
    // What this check fetched already and the cache could not keep comes from memory: a
    // document is asked of the network once per check.
    CheckDocuments* const checkDocuments = CheckDocuments::current();
    std::optional<SharedFetches::Outcome> fetched;
    if (checkDocuments != nullptr) {
        fetched = checkDocuments->find(documentUrl);
    }
    if (fetched && fetched->cached && fetched->text) {
        return std::move(fetched->text);  // as the cache answers for it: its text, no headers
    }
    if (!fetched) {
        bool kept = false;
        std::optional<std::string> cached = cachedText(documentUrl, kept);
        if (kept) {
            return cached;
        }
        // Checks that need the same document at once share one download of it.
        fetched = fetches_.fetchOnce(documentUrl, [this, &documentUrl] {
            if (std::optional<SharedFetches::Outcome> cached = cachedOutcome(documentUrl)) {
                return *cached;
            }
            std::string headers;
            std::optional<std::string> text = fetch_(documentUrl, headers);
            return takeDownload(documentUrl, std::move(text), std::move(headers));
        });
        if (checkDocuments != nullptr) {
            checkDocuments->keep(documentUrl, *fetched);
        }
    }
    if (headers != nullptr) {
        *headers = parseHeaderText(fetched->headers);
    }
    if (fetched->error) {
        std::rethrow_exception(fetched->error);
    }
    return std::move(fetched->text);
}

SharedFetches::Outcome PolicyCache::takeDownload(const std::string& url,
                                                 std::optional<std::string> text,
                                                 std::string headers) {
    SharedFetches::Outcome outcome;
    outcome.text = std::move(text);
    outcome.headers = std::move(headers);
    try {
        outcome.cached = storeDocument(url, outcome.text, 0);
        if (!outcome.cached) {
            outcome.dropped = std::move(outcome.text);
            outcome.text.reset();
        }
    } catch (const Error&) {
        outcome.dropped = std::move(outcome.text);
        outcome.text.reset();
        outcome.error = std::current_exception();
    }
    return outcome;
}

// A fetch that lands stores its document before it lets go of the lead, so a thread that found
// the document uncached just before may take the next lead for it: it looks again.
std::optional<SharedFetches::Outcome> PolicyCache::cachedOutcome(const std::string& url) {
    if (!isPolicyCached(url)) {
        return std::nullopt;
    }
    SharedFetches::Outcome outcome;
    outcome.text = readCachedDocument(url);
    outcome.cached = true;
    return outcome;
}

void PolicyCache::prefetchDocuments(const std::vector<std::string>& urls) {
    if (ownFetch_) {
        return;
    }
    CheckDocuments* const checkDocuments = CheckDocuments::current();
    std::vector<std::string> wanted;
    std::vector<SharedFetches::Lead> leads;
    for (const std::string& url : urls) {
        const std::string documentUrl = Url::withoutFragment(url);
        if (documentUrl.empty() ||
            std::find(wanted.begin(), wanted.end(), documentUrl) != wanted.end() ||
            (checkDocuments != nullptr && checkDocuments->find(documentUrl)) ||
            isPolicyCached(documentUrl)) {
            continue;
        }
        if (SharedFetches::Lead lead = fetches_.tryLead(documentUrl)) {
            if (std::optional<SharedFetches::Outcome> cached = cachedOutcome(documentUrl)) {
                fetches_.land(documentUrl, lead, *cached);
                continue;
            }
            wanted.push_back(documentUrl);
            leads.push_back(std::move(lead));
        }
    }
    if (wanted.empty()) {
        return;
    }
    std::vector<HttpClient::Download> downloads;
    try {
        downloads = HttpClient::fetchDocuments(wanted);
    } catch (...) {
        for (std::size_t i = 0; i < wanted.size(); ++i) {
            fetches_.abandon(wanted[i], leads[i]);
        }
        throw;
    }
    for (std::size_t i = 0; i < wanted.size(); ++i) {
        SharedFetches::Outcome outcome =
            takeDownload(wanted[i], std::move(downloads[i].body), std::move(downloads[i].headers));
        fetches_.land(wanted[i], leads[i], outcome);
        if (checkDocuments != nullptr) {
            checkDocuments->keep(wanted[i], std::move(outcome));
        }
    }
}

struct PolicyCache::PrefetchRound {
    PolicyCache* cache = nullptr;
    std::mutex lock;
    CheckDocuments* documents = nullptr;       // guarded by lock; null once over
    std::size_t left = 1;                      // guarded by lock: the start itself holds one
    std::function<void()> done;                // guarded by lock
    std::shared_ptr<HttpClient::Batch> batch;  // guarded by lock
    std::vector<std::string> wanted;           // this round's own downloads
    std::vector<SharedFetches::Lead> leads;    // and their leads

    // Keeps the outcome for the check while the round is on.
    void keep(const std::string& url, const SharedFetches::Outcome& outcome) {
        std::lock_guard<std::mutex> guard(lock);
        if (documents != nullptr) {
            documents->keep(url, outcome);
        }
    }
    // The round's own downloads will not land: those waiting for them fetch for themselves.
    void abandonLeads() {
        for (std::size_t i = 0; i < wanted.size(); ++i) {
            cache->fetches_.abandon(wanted[i], leads[i]);
        }
    }
    // One document (or the start) has landed; the last runs done.
    void landed() {
        std::function<void()> call;
        {
            std::lock_guard<std::mutex> guard(lock);
            if (documents == nullptr || --left > 0) {
                return;
            }
            documents = nullptr;
            call = std::move(done);
            batch.reset();
        }
        call();
    }
};

std::shared_ptr<PolicyCache::PrefetchRound> PolicyCache::startPrefetch(
    const std::vector<std::string>& urls, CheckDocuments& documents, std::function<void()> done,
    const Post& post) {
    auto round = std::make_shared<PrefetchRound>();
    round->cache = this;
    round->documents = &documents;
    round->done = std::move(done);
    for (const std::string& url : ownFetch_ ? std::vector<std::string>{} : urls) {
        // A document this cannot look at or wait for is left to the check, which meets the same
        // failure where it has always handled it.
        try {
            const std::string documentUrl = Url::withoutFragment(url);
            if (documentUrl.empty() ||
                std::find(round->wanted.begin(), round->wanted.end(), documentUrl) !=
                    round->wanted.end() ||
                documents.find(documentUrl) || isPolicyCached(documentUrl)) {
                continue;
            }
            if (SharedFetches::Lead lead = fetches_.tryLead(documentUrl)) {
                std::optional<SharedFetches::Outcome> cached;
                try {
                    cached = cachedOutcome(documentUrl);
                } catch (...) {
                    fetches_.abandon(documentUrl, lead);
                    continue;
                }
                if (cached) {
                    fetches_.land(documentUrl, lead, *cached);
                } else {
                    round->wanted.push_back(documentUrl);
                    round->leads.push_back(std::move(lead));
                }
                continue;
            }
            {
                std::lock_guard<std::mutex> guard(round->lock);
                ++round->left;
            }
            bool waits = false;
            try {
                waits = fetches_.whenLanded(
                    documentUrl, [round, documentUrl](const SharedFetches::Outcome* outcome) {
                        if (outcome != nullptr) {
                            round->keep(documentUrl, *outcome);
                        }
                        round->landed();
                    });
            } catch (...) {
            }
            if (!waits) {
                round->landed();  // it landed meanwhile: the cache or a later fetch has it
            }
        } catch (...) {
        }
    }
    if (!round->wanted.empty()) {
        {
            std::lock_guard<std::mutex> guard(round->lock);
            ++round->left;
        }
        try {
            // The downloads are stored where post runs them, not on the event thread.
            std::shared_ptr<HttpClient::Batch> batch = HttpClient::startDocuments(
                round->wanted, [this, round, post](std::vector<HttpClient::Download> downloads) {
                    post([this, round, downloads = std::move(downloads)]() mutable {
                        for (std::size_t i = 0; i < round->wanted.size(); ++i) {
                            const std::string& url = round->wanted[i];
                            SharedFetches::Outcome outcome = takeDownload(
                                url, std::move(downloads[i].body), std::move(downloads[i].headers));
                            round->keep(url, outcome);
                            fetches_.land(url, round->leads[i], outcome);
                        }
                        round->landed();
                    });
                });
            // Not done before the start's own share below has landed.
            std::lock_guard<std::mutex> guard(round->lock);
            round->batch = std::move(batch);
        } catch (...) {
            round->abandonLeads();
            round->landed();
        }
    }
    round->landed();  // the start's own share
    return round;
}

bool PolicyCache::cancelPrefetch(const std::shared_ptr<PrefetchRound>& round) {
    std::shared_ptr<HttpClient::Batch> batch;
    {
        std::lock_guard<std::mutex> guard(round->lock);
        if (round->documents == nullptr) {
            return false;
        }
        round->documents = nullptr;
        round->done = nullptr;
        batch = std::move(round->batch);
    }
    if (batch && HttpClient::cancelBatch(batch)) {
        round->abandonLeads();
    }
    return true;
}

// The file is looked at outside the lock, so that the many checks reading cached documents at
// once do not wait for each other's disk. The lock is taken again to drop an entry whose file is
// gone; an entry that another thread replaced or dropped meanwhile is looked up again.
bool PolicyCache::isPolicyCached(const std::string& url) {
    for (int lookup = 0; lookup < kMaxLookups; ++lookup) {
        const std::optional<std::string> fileName = liveFileName(url);
        if (!fileName) {
            return false;
        }
        if (fileName->empty() || isRegularFile(filePath(*fileName))) {
            return true;
        }
        if (dropIfStillNamed(url, *fileName)) {
            return false;
        }
    }
    return false;
}

std::optional<std::string> PolicyCache::readCachedDocument(const std::string& url) {
    bool kept = false;
    return cachedText(url, kept);
}

std::optional<std::string> PolicyCache::cachedText(const std::string& url, bool& kept) {
    kept = false;
    for (int lookup = 0; lookup < kMaxLookups; ++lookup) {
        const std::optional<std::string> fileName = liveFileName(url);
        if (!fileName) {
            return std::nullopt;
        }
        if (fileName->empty()) {
            kept = true;  // a remembered failure
            return std::nullopt;
        }
        // The reader takes regular files only.
        std::optional<std::string> text =
            FileReader::read(filePath(*fileName), HttpClient::kMaxBodyBytes);
        if (text) {
            RetrievalGuard guard(retrievalLock());
            const auto entry = entries_.find(url);
            if (entry != entries_.end() && entry->second.fileName == *fileName) {
                kept = true;
                return text;
            }
        } else if (dropIfStillNamed(url, *fileName)) {
            return std::nullopt;
        }
    }
    return std::nullopt;
}

std::optional<std::string> PolicyCache::liveFileName(const std::string& url) {
    RetrievalGuard guard(retrievalLock());
    const auto entry = entries_.find(url);
    if (entry == entries_.end()) {
        return std::nullopt;
    }
    if (entry->second.expiry < clock_()) {
        removeEntry(entry, true);
        return std::nullopt;
    }
    return entry->second.fileName;
}

bool PolicyCache::dropIfStillNamed(const std::string& url, const std::string& fileName) {
    RetrievalGuard guard(retrievalLock());
    const auto entry = entries_.find(url);
    if (entry == entries_.end()) {
        return true;
    }
    if (entry->second.fileName != fileName) {
        return false;
    }
    removeEntry(entry, false);
    return true;
}

// The document is read and its file written outside the lock, so that checks storing documents
// at once do not wait for each other's parsing and disk.
bool PolicyCache::storeDocument(const std::string& url, const std::optional<std::string>& text,
                                std::int64_t expiry) {
    if (!text) {
        RetrievalGuard guard(retrievalLock());
        setEntry(url, Entry{"", expiry != 0 ? expiry : clock_() + kDefaultLifetime});
        return true;
    }
    const std::int64_t now = clock_();
    if (expiry == 0) {
        expiry = expiryOfDocument(*text);
        if (expiry == 0) {
            expiry = now + kDefaultLifetime;
        }
    }
    if (expiry < now) {
        return false;
    }
    std::error_code error;
    fs::create_directories(directory_, error);
    const std::optional<std::string> fileName = writeNewCacheFile(*text);
    RetrievalGuard guard(retrievalLock());
    if (fileName) {
        writing_.erase(*fileName);
        setEntry(url, Entry{*fileName, expiry});
    } else if (const auto known = entries_.find(url); known != entries_.end()) {
        removeEntry(known, false);  // served this once, fetched again next time
    }
    return true;
}

// A free name can be taken by another process before the file is made, so the file is created
// exclusively and the next name tried when it exists. A name that an entry still holds (its file
// deleted meanwhile) is passed over too, or that entry would read this document, and so is one
// that another thread is writing. The name chosen stays among those being written until the
// caller makes its entry.
std::optional<std::string> PolicyCache::writeNewCacheFile(const std::string& text) {
    for (int attempt = 0; attempt < kMaxFileNameAttempts; ++attempt) {
        std::string name;
        {
            RetrievalGuard guard(retrievalLock());
            try {
                name = tempNamer_(directory_);
            } catch (const Error&) {
                return std::nullopt;
            }
            if (owners_.contains(name) || !writing_.insert(name).second) {
                continue;
            }
        }
        const auto giveUp = [this, &name] {
            RetrievalGuard guard(retrievalLock());
            writing_.erase(name);
        };
        const std::string path = filePath(name);
        std::FILE* file = std::fopen(path.c_str(), "wbx");
        if (file == nullptr) {
            const bool taken = errno == EEXIST;
            giveUp();
            if (taken) {
                continue;
            }
            return std::nullopt;
        }
        if (!writeWholeFile(file, text)) {
            removeFile(path);
            giveUp();
            return std::nullopt;
        }
        return name;
    }
    return std::nullopt;
}

std::int64_t PolicyCache::expiryOfDocument(const std::string& text) const {
    XmlNodePtr element = XmlNode::parseXmlBuffer(text);
    if (element && element->name == "META") {
        element = element->children().empty() ? nullptr : element->children().front();
    }
    if (!element || (element->name != "POLICY-REFERENCES" && element->name != "POLICIES" &&
                     element->name != "POLICY")) {
        return 0;
    }
    const XmlNodePtr expiry = element->findChild("EXPIRY");
    if (!expiry) {
        return 0;
    }
    if (const std::string* date = expiry->attribute("DATE")) {
        return parseHttpDate(date->c_str());
    }
    if (const std::string* maxAge = expiry->attribute("MAX-AGE")) {
        return clock_() + leadingNumber(*maxAge);
    }
    return 0;
}

std::string PolicyCache::cachedFilePath(const std::string& url) const {
    RetrievalGuard guard(retrievalLock());
    const auto entry = entries_.find(Url::withoutFragment(url));
    if (entry == entries_.end() || entry->second.fileName.empty()) {
        return {};
    }
    return filePath(entry->second.fileName);
}

void PolicyCache::loadIndexEntry(const XmlNode& element, std::int64_t now) {
    const std::string* url = element.attribute("URL");
    if (url == nullptr || url->empty() || url->size() > kMaxIndexUrlBytes) {
        return;
    }
    const std::string* fileAttribute = element.attribute("FILENAME");
    const std::string fileName = fileAttribute != nullptr ? *fileAttribute : "";
    if (!fileName.empty() && (!isCacheFileName(fileName) || !isRegularFile(filePath(fileName)))) {
        return;
    }
    // A file this process holds for another URL: the name was freed and taken again since the
    // index was written, so the entry would read another document.
    if (const auto owner = owners_.find(fileName);
        (owner != owners_.end() && owner->second != *url) || writing_.contains(fileName)) {
        return;
    }
    const std::string* expiryText = element.attribute("EXPIRY");
    const std::int64_t expiry = expiryText != nullptr ? leadingNumber(*expiryText) : 0;
    if (expiryText == nullptr || now >= expiry) {
        deleteUnusedFile(fileName);
        return;
    }
    const auto known = entries_.find(*url);
    if (known == entries_.end()) {
        setEntry(*url, Entry{fileName, expiry});
    } else if (known->second.fileName != fileName) {
        deleteUnusedFile(fileName);  // the entry in memory wins
    }
}

void PolicyCache::loadCacheIndex() {
    RetrievalGuard guard(retrievalLock());
    const std::int64_t now = clock_();
    // An index too large to be ours is overwritten at the next save.
    const XmlNodePtr root =
        XmlNode::parseXmlFileOrNothing(filePath(kIndexName), kMaxIndexFileBytes);
    if (!root || root->name != "POLICY-CACHE") {
        return;
    }
    std::size_t read = 0;
    for (const XmlNodePtr& child : root->children()) {
        if (child->name != "CACHE-ENTRY" || read++ >= kMaxIndexEntries) {
            continue;
        }
        try {
            loadIndexEntry(*child, now);
        } catch (const std::exception&) {
            // that entry is skipped
        }
    }
}

void PolicyCache::writeCacheIndex() {
    std::error_code error;
    fs::create_directories(directory_, error);
    // Held across the merge and the write: the entries of a process saving in between would
    // be written over. Taken before the retrieval lock, so no thread waits for it under that.
    std::optional<FileLock> indexLock;
    try {
        indexLock.emplace(filePath(kIndexLockName));
    } catch (const Error&) {
        PERCHLIGHT_RAISE(kCannotWrite, "XmlFile");
    }
    loadCacheIndex();
    RetrievalGuard guard(retrievalLock());
    fs::create_directories(directory_, error);
    // A temporary file of this process's own: two processes saving at once never share one.
    FileReplacement replacement(filePath(kIndexName));
    if (!replacement.reserved()) {
        PERCHLIGHT_RAISE(kCannotWrite, "XmlFile");
    }
    {
        XmlFile file(replacement.temporaryPath());
        XmlElementWriter cache(file, false);
        cache.setNodeName("POLICY-CACHE");
        for (const auto& [url, entry] : entries_) {
            XmlElementWriter item(file, true);
            item.setNodeName("CACHE-ENTRY", {{"URL", XmlFile::escapeAttribute(url)},
                                             {"FILENAME", XmlFile::escapeAttribute(entry.fileName)},
                                             {"EXPIRY", std::to_string(entry.expiry)}});
            item.finish();
        }
        cache.finish();
        file.close();
    }
    if (!replacement.commit()) {
        PERCHLIGHT_RAISE(kCannotWrite, "XmlFile");
    }
}

std::vector<PolicyCache::Listing> PolicyCache::list() const {
    RetrievalGuard guard(retrievalLock());
    std::vector<Listing> listing;
    for (const auto& [url, entry] : entries_) {
        listing.push_back({url, entry.fileName, entry.expiry});
    }
    return listing;
}

void PolicyCache::clearCache() {
    RetrievalGuard guard(retrievalLock());
    entries_.clear();
    owners_.clear();
    std::error_code error;
    fs::remove_all(directory_, error);
    if (clearListener_) {
        clearListener_();
    }
}

int PolicyCache::evaluatePolicy(const std::string& policyUrl, MatchResult& result) {
    result.state = kStateNotEvaluated;
    if (policyUrl.empty()) {
        return 0;
    }
    try {
        result.policyUrl = Url(policyUrl);
    } catch (const Error&) {
        return -1;
    }
    const std::size_t hash = policyUrl.find('#');
    const std::string documentUrl = policyUrl.substr(0, hash);
    const std::string name = hash == std::string::npos ? "" : policyUrl.substr(hash + 1);
    const std::optional<std::string> text = getDocument(documentUrl);
    if (!text) {
        return -1;
    }
    std::string ruleSet;
    if (!ruleSetReader_ || !ruleSetReader_(ruleSet)) {
        return -2;
    }
    try {
        return static_cast<int>(
            evaluator_->evaluatePolicy(ruleSet, *text, Url(documentUrl), name, result));
    } catch (const Error&) {
        return 0;
    }
}

}  // namespace perchlight
