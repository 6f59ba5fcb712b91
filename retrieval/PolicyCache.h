#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "core/BaseDataSchema.h"
#include "core/DocumentSource.h"
#include "core/MatchResult.h"
#include "core/P3PEvaluator.h"
#include "retrieval/SharedFetches.h"

namespace perchlight {

class CheckDocuments;

// The on-disk cache of every XML document fetched over HTTP (reference files, policies, data
// schemas): one file per document in the cache directory, an in-memory map from document URL to
// file and expiry, and the index "cacheindex.xml" that processes sharing the directory merge
// before they write it. Failed fetches are remembered for a day. Thread-safe: the map is guarded
// by retrievalLock(); fetches, and the writing of new cache files, run outside it.
class PolicyCache : public DocumentSource {
  public:
    // Seconds since 1970-01-01 00:00 UTC.
    using Clock = std::function<std::int64_t()>;
    // Downloads a URL, filling the raw response header text; none when nothing arrived.
    using Fetch = std::function<std::optional<std::string>(const std::string&, std::string&)>;
    // Reads the active rule set's bytes; false when it cannot be read.
    using RuleSetReader = std::function<bool(std::string&)>;
    // Chooses the name of a new cache file in a directory.
    using TempNamer = std::function<std::string(const std::string&)>;

    // Lifetime of a document without a usable EXPIRY, and of a remembered failure.
    static constexpr std::int64_t kDefaultLifetime = 86400;
    // Bounds on an index that another process or a hostile hand may have written: a larger file
    // is ignored, entries past the count and longer URLs are skipped.
    static constexpr std::uintmax_t kMaxIndexFileBytes = 16 * 1024 * 1024;
    static constexpr std::size_t kMaxIndexEntries = 100000;
    static constexpr std::size_t kMaxIndexUrlBytes = 64 * 1024;
    // Names tried for one new cache file when other processes keep taking them first.
    static constexpr int kMaxFileNameAttempts = 100;
    // Look-ups of one cached document while other threads keep replacing its entry; past them
    // it reads as not cached.
    static constexpr int kMaxLookups = 8;

    explicit PolicyCache(std::string directory, Clock clock = nullptr, Fetch fetch = nullptr);
    PolicyCache(const PolicyCache&) = delete;
    PolicyCache& operator=(const PolicyCache&) = delete;

    std::optional<std::string> getDocument(const std::string& url,
                                           HttpHeaders* headers = nullptr) override;
    // Downloads at once, on the calling thread, the documents that getDocument would fetch next
    // for these URLs (none cached, none kept by the calling thread's check, none that another
    // thread is fetching now), and takes each as getDocument takes a download; the getDocument
    // calls that follow find them cached, kept or in flight. Raises "STOP" as a download does.
    // With a fetch of the caller's own it fetches nothing: getDocument fetches one at a time.
    void prefetchDocuments(const std::vector<std::string>& urls);
    // The same without a thread waiting: the documents download on the transfer engine and are
    // taken as getDocument takes them by a task handed to post (a worker's, not the event
    // thread); those that another check is fetching are waited for with it; what the cache
    // cannot keep is kept in documents, which must live until done has run or the round was
    // cancelled. done runs once every one has landed, on the thread that lands the last (or the
    // calling thread when nothing was left to fetch), and must not throw.
    struct PrefetchRound;
    using Post = std::function<void(std::function<void()>)>;
    std::shared_ptr<PrefetchRound> startPrefetch(const std::vector<std::string>& urls,
                                                 CheckDocuments& documents,
                                                 std::function<void()> done, const Post& post);
    // Gives the round up: its own downloads stop (those that waited for them fetch for
    // themselves), documents is not written again and done is not called; false, with nothing
    // changed, when done has been called or is being called. The round's own downloads that had
    // all arrived are still taken, through post, before this returns.
    static bool cancelPrefetch(const std::shared_ptr<PrefetchRound>& round);
    // True when a usable entry (a fresh file or a remembered failure) exists for the URL.
    bool isPolicyCached(const std::string& url);
    std::optional<std::string> readCachedDocument(const std::string& url);
    // Makes an entry for the URL; expiry 0 means "from the document". False when the document
    // has expired already. Raises "XML parse error" and "Invalid TIME string" for bad documents.
    bool storeDocument(const std::string& url, const std::optional<std::string>& text,
                       std::int64_t expiry);
    // The expiry a document gives itself, or 0.
    std::int64_t expiryOfDocument(const std::string& text) const;
    // The path of the URL's cache file, or empty when there is no entry or it is a failure.
    std::string cachedFilePath(const std::string& url) const;

    void loadCacheIndex();
    // Merges the index on disk, then replaces it atomically with the map, holding the lock file
    // "cacheindex.xml.lock" throughout so that processes saving at once keep each other's entries.
    // Raises "Could not open file for writing, ..." also when the lock is not had in time.
    void writeCacheIndex();
    // Forgets everything, deletes the directory and tells the clear listener.
    void clearCache();

    // Fetches (cache first) and evaluates a policy against the active rule set: 0 for an empty
    // URL or after an error, -1 when the policy cannot be had, -2 when the rule set cannot be
    // read, else the evaluation's code.
    int evaluatePolicy(const std::string& policyUrl, MatchResult& result);

    void setRuleSetReader(RuleSetReader reader) { ruleSetReader_ = std::move(reader); }
    // The evaluator of evaluatePolicy, whose document source should be this cache; unset, the
    // cache evaluates without a base data schema and without a digest.
    void setEvaluator(const P3PEvaluator* evaluator) {
        evaluator_ = evaluator ? evaluator : &ownEvaluator_;
    }
    // uniqueTempName unless a test stands in for it.
    void setTempNamer(TempNamer namer) { tempNamer_ = std::move(namer); }
    // Called by clearCache, so that what was learnt from cached documents goes too.
    void setClearListener(std::function<void()> listener) { clearListener_ = std::move(listener); }

    const std::string& directory() const { return directory_; }

    // One line of the cache's listing: URL, file name (empty for a failure) and expiry.
    struct Listing {
        std::string url;
        std::string fileName;
        std::int64_t expiry = 0;
    };
    std::vector<Listing> list() const;

  private:
    struct Entry {
        std::string fileName;  // empty for a remembered failure
        std::int64_t expiry = 0;
    };

    std::string filePath(const std::string& fileName) const;
    void setEntry(const std::string& url, Entry entry);
    void removeEntry(std::map<std::string, Entry>::iterator entry, bool deleteFile);
    // Deletes a cache file unless an entry still names it or it is being written.
    void deleteUnusedFile(const std::string& fileName) const;
    // The file name of the URL's live entry ("" for a remembered failure); none without one, an
    // expired entry being dropped with its file.
    std::optional<std::string> liveFileName(const std::string& url);
    // The cached text of the URL, read with one look at its file; kept tells whether the cache
    // answers for the URL (a fresh file, or a remembered failure, which has no text). An entry
    // whose file is gone or unreadable is dropped, and the cache no longer answers.
    std::optional<std::string> cachedText(const std::string& url, bool& kept);
    // Drops the URL's entry if it still names the file whose reading failed: true when the URL
    // is no longer cached, false when another thread replaced its entry meanwhile.
    bool dropIfStillNamed(const std::string& url, const std::string& fileName);
    // Writes the text to a file that no one else writes, outside the lock; its name (left among
    // those being written), or none when that fails.
    std::optional<std::string> writeNewCacheFile(const std::string& text);
    void loadIndexEntry(const class XmlNode& element, std::int64_t now);
    // The cached document as a fetch's outcome, when the cache has one for the URL.
    std::optional<SharedFetches::Outcome> cachedOutcome(const std::string& url);
    // A download's outcome as the cache takes it: stored when it can be, else held as dropped
    // with the error it raised.
    SharedFetches::Outcome takeDownload(const std::string& url, std::optional<std::string> text,
                                        std::string headers);

    std::string directory_;
    Clock clock_;
    bool ownFetch_ = false;  // a fetch of the caller's, not HttpClient's
    Fetch fetch_;
    RuleSetReader ruleSetReader_;
    std::function<void()> clearListener_;
    TempNamer tempNamer_;
    BaseDataSchema noBaseSchema_{""};
    P3PEvaluator ownEvaluator_{this, noBaseSchema_};
    const P3PEvaluator* evaluator_ = &ownEvaluator_;
    SharedFetches fetches_;
    std::map<std::string, Entry> entries_;       // document URL without fragment -> entry
    std::map<std::string, std::string> owners_;  // file name -> the one URL whose entry names it
    std::set<std::string> writing_;  // names of new files being written, not yet in an entry
};

}  // namespace perchlight
