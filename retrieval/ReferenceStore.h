#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "core/DocumentSource.h"
#include "retrieval/PolicyRef.h"
#include "util/Url.h"

namespace perchlight {

class XmlNode;

// The policy reference store and its hint table: the policy reference files loaded so far, read
// into records, and the answers to which policy covers a page, a method or a cookie. The files
// of one site are consulted in the order of their file URL texts, so an answer does not depend on
// the order in which the files happened to be loaded. Reference files come from a DocumentSource
// (the policy cache in the agent). Thread-safe: every operation on the store and the hint table
// runs under retrievalLock(); documents are fetched outside it.
class ReferenceStore {
  public:
    // How many reference files a chain of P3P header follow-ups may load after the first one.
    static constexpr std::size_t kMaxFollowUps = 8;
    // POLICY-REFs read from one POLICY-REFERENCES element; later ones are passed over.
    static constexpr std::size_t kMaxReferences = 1000;
    // INCLUDE, EXCLUDE, COOKIE-INCLUDE, COOKIE-EXCLUDE and METHOD entries read from one
    // POLICY-REFERENCES element, all together; later ones are passed over.
    static constexpr std::size_t kMaxPatterns = 4000;
    // Longest INCLUDE, EXCLUDE or cookie pattern text read; longer ones are passed over.
    static constexpr std::size_t kMaxPatternLength = 2048;
    // HINTs read from one reference file; later ones are passed over.
    static constexpr std::size_t kMaxHintsPerFile = 32;
    // Byte comparisons that matching the patterns of one lookup may cost (a pattern with a long
    // tail after a "*" costs about its length times the URL's); past it the lookup finds nothing.
    static constexpr std::uint64_t kMaxMatchSteps = 100'000'000;

    // A store of its own, reading reference files from source (none: nothing can be fetched).
    explicit ReferenceStore(DocumentSource* source = nullptr);
    ReferenceStore(const ReferenceStore&) = delete;
    ReferenceStore& operator=(const ReferenceStore&) = delete;

    // Where reference files are obtained from from now on; the source must outlive its use.
    void setDocumentSource(DocumentSource* source);

    // Makes the reference file known (fetching it when it is not loaded yet) and follows a
    // "policyref=" in the response headers to the next file. True when the file is loaded or its
    // text was obtained. Errors of the document source reach the caller.
    bool loadReferenceFile(const Url& file, const Url& page);
    // loadReferenceFile for a location the agent guesses on its own (a site's well-known
    // location), not one the site named: an answer that is not well-formed XML counts as no
    // answer, so the check can go on to the references the site names itself.
    bool probeReferenceFile(const Url& file, const Url& page);
    // Reads a reference file's text into the store under the file URL, replacing an earlier
    // record of that URL. Text that is not well-formed XML or has another root than META stores
    // nothing.
    void readReferenceFile(const Url& file, const std::string& text);

    // The policy URL of the first POLICY-REF covering the page for the method, or an empty URL.
    Url lookupPolicy(const Url& page, const std::string& method) const;
    // The policy URL of the first POLICY-REF covering the cookie, or an empty URL.
    Url lookupCookiePolicy(const std::string& name, const std::string& value,
                           const std::string& domain, const std::string& path) const;
    // Candidate reference file URLs that the hint table gives for the URL's site; empty when
    // no hint applies.
    std::vector<Url> referenceFilesFor(const Url& url) const;
    // True when a record with exactly this file URL is in the store.
    bool isLoaded(const Url& file) const;
    // A copy of the record loaded under exactly this file URL, if any.
    std::optional<PolicyRefFile> referenceFile(const Url& file) const;

    // Empties the store and the hint table (the policy cache's clearCache does this).
    void clear();

  private:
    using SiteFiles = std::map<std::string, PolicyRefFile>;  // file URL text -> record

    bool loadChain(const Url& file, const Url& page, std::set<std::string>& visited, bool probe);
    void readPolicyReferences(const XmlNode& element, const Url& file, std::size_t& hints);
    bool readHint(const XmlNode& hint);
    const PolicyRefFile* findFile(const Url& file) const;  // caller holds retrievalLock()

    DocumentSource* source_;
    std::map<std::string, SiteFiles> sites_;    // server root -> its files
    std::map<std::string, std::string> hints_;  // scope as written -> path
};
}  // namespace perchlight
