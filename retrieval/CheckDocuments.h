#pragma once

#include <cstddef>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "retrieval/SharedFetches.h"

namespace perchlight {

// What one check (or one survey site) got for each document it fetched, or was handed by the
// check that fetched it: the text, and for what the cache could not keep the failure, the
// document that was no XML, the one that had expired already. The check's thread installs the
// record for as long as a Scope lives and the policy cache finds it there, so a document that the
// prefetch fetched reaches the check from memory: never from the network a second time, and a
// document the cache kept not from its file either. A survey's check of a site installs its own
// record around the page check, which then uses it. Thread-safe.
class CheckDocuments {
  public:
    // Bytes of kept text for one check; past it an outcome's texts are not kept (the document
    // then comes from the cache, or from the network again when the cache could not keep it).
    static constexpr std::size_t kMaxKeptBytes = 16 * 1024 * 1024;

    using Kept = SharedFetches::Outcome;

    // Installs the record on the calling thread; the previous one comes back when it goes.
    class Scope {
      public:
        explicit Scope(CheckDocuments* documents);
        ~Scope();
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;

      private:
        CheckDocuments* previous_;
    };

    CheckDocuments() = default;
    CheckDocuments(const CheckDocuments&) = delete;
    CheckDocuments& operator=(const CheckDocuments&) = delete;

    // The calling thread's record, or null.
    static CheckDocuments* current();

    // What was kept for the document URL (no fragment), if anything.
    std::optional<Kept> find(const std::string& url) const;
    // Keeps the outcome of the document URL, replacing an earlier one.
    void keep(const std::string& url, Kept kept);

  private:
    mutable std::mutex lock_;
    std::map<std::string, Kept> kept_;  // guarded by lock_
    std::size_t bytes_ = 0;             // guarded by lock_
};

}  // namespace perchlight
