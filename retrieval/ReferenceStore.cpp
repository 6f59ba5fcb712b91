#include "retrieval/ReferenceStore.h"
#include "retrieval/ReferenceStoreDetail.h"

#include <algorithm>
#include <cctype>
#include <utility>

#include "core/WildcardMatch.h"
#include "core/XmlNode.h"
#include "retrieval/Globals.h"
#include "retrieval/PolicyCache.h"
#include "retrieval/RetrievalLock.h"
#include "util/Error.h"

namespace perchlight {
namespace {

constexpr const char* kXmlParseError = "XML parse error";

// Where the path of a URL text begins: the first "/", "?" or "#" after "scheme://host".
std::size_t pathStart(const std::string& url) {
    const std::size_t scheme = url.find("://");
    if (scheme == std::string::npos) {
        return 0;
    }
    const std::size_t end = url.find_first_of("/?#", scheme + 3);
    return end == std::string::npos ? url.size() : end;
}

bool isSchemeChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '+' ||
           c == '-' || c == '.';
}

// "scheme://..." with a well-formed scheme.
bool isAbsoluteUrl(const std::string& text) {
    const std::size_t scheme = text.find("://");
    if (scheme == std::string::npos || scheme == 0 ||
        !std::isalpha(static_cast<unsigned char>(text[0]))) {
        return false;
    }
    return std::all_of(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(scheme),
                       isSchemeChar);
}

// Collapses runs of "/" in the path part, before any query or fragment.
std::string collapseSlashes(const std::string& url) {
    const std::size_t start = pathStart(url);
    std::size_t end = url.find_first_of("?#", start);
    end = end == std::string::npos ? url.size() : end;
    std::string result = url.substr(0, start);
    for (std::size_t i = start; i < end; ++i) {
        if (url[i] != '/' || result.empty() || result.back() != '/' || i == start) {
            result += url[i];
        }
    }
    return result + url.substr(end);
}

// The file URL up to and including its last "/" before any "#", "?", "&" or ";".
std::string directoryOf(const Url& file) {
    const std::string& text = file.str();
    const std::size_t start = pathStart(text);
    const std::size_t limit = std::min(text.find_first_of("#?&;", start), text.size());
    const std::size_t slash = limit == 0 ? std::string::npos : text.rfind('/', limit - 1);
    if (slash == std::string::npos || slash < start) {
        return text.substr(0, limit) + "/";
    }
    return text.substr(0, slash + 1);
}

// A cookie domain pattern as held: upper-cased, without one leading ".".
std::string cookieDomain(std::string domain) {
    domain = upperCaseAscii(std::move(domain));
    if (!domain.empty() && domain.front() == '.') {
        domain.erase(0, 1);
    }
    return domain;
}

Url resolveAbout(const std::string& about, const Url& file, const std::string& root) {
    if (!about.empty() && about.front() == '#') {
        return Url(file.str() + about);
    }
    if (!about.empty() && about.front() == '/') {
        return joinUrl(root, about);
    }
    return joinUrl(directoryOf(file), about);
}

// The absolute pattern of an INCLUDE or EXCLUDE text, or nothing when it is passed over.
std::optional<std::string> urlPattern(const std::string& text, const std::string& root) {
    if (text.find("://") != std::string::npos || text.size() > ReferenceStore::kMaxPatternLength) {
        return std::nullopt;
    }
    try {
        std::string pattern = joinUrl(root, text).str();
        if (!text.empty() && text.back() == '/') {
            pattern += '*';
        }
        return pattern;
    } catch (const Error&) {
        return std::nullopt;
    }
}

// A COOKIE-INCLUDE or COOKIE-EXCLUDE, from its attributes or else its text "name domain path".
std::optional<CookiePattern> cookiePattern(const XmlNode& element) {
    CookiePattern pattern;
    if (const std::string* name = element.attribute("NAME")) {
        const std::string* value = element.attribute("VALUE");
        const std::string* domain = element.attribute("DOMAIN");
        const std::string* path = element.attribute("PATH");
        pattern.name = *name;
        pattern.value = value ? *value : std::string();
        pattern.domain = domain ? cookieDomain(*domain) : std::string();
        pattern.path = path ? *path : std::string();
    } else if (!element.text.empty()) {
        const std::string& text = element.text;
        const std::size_t first = text.find(' ');
        pattern.name = text.substr(0, first);
        if (first != std::string::npos) {
            const std::size_t second = text.find(' ', first + 1);
            pattern.domain = cookieDomain(text.substr(first + 1, second - first - 1));
            if (second != std::string::npos) {
                pattern.path = text.substr(second + 1);
            }
        }
    } else {
        return std::nullopt;
    }
    if (pattern.name.size() > ReferenceStore::kMaxPatternLength ||
        pattern.domain.size() > ReferenceStore::kMaxPatternLength) {
        return std::nullopt;
    }
    return pattern;
}

// One POLICY-REF; nothing when it has no usable ABOUT. patterns counts the entries read from
// the enclosing POLICY-REFERENCES.
std::optional<PolicyRef> readPolicyRef(const XmlNode& element, const Url& file,
                                       const std::string& root, std::size_t& patterns) {
    const std::string* about = element.attribute("ABOUT");
    if (about == nullptr) {
        return std::nullopt;
    }
    PolicyRef ref;
    try {
        ref.policyUrl = resolveAbout(*about, file, root);
    } catch (const Error&) {
        return std::nullopt;
    }
    for (const XmlNodePtr& child : element.children()) {
        if (patterns >= ReferenceStore::kMaxPatterns) {
            break;
        }
        const std::string& name = child->name;
        if (name == "INCLUDE" || name == "EXCLUDE") {
            if (auto pattern = urlPattern(child->text, root)) {
                (name == "INCLUDE" ? ref.includes : ref.excludes).push_back(std::move(*pattern));
                ++patterns;
            }
        } else if (name == "COOKIE-INCLUDE" || name == "COOKIE-EXCLUDE") {
            if (auto pattern = cookiePattern(*child)) {
                (name == "COOKIE-INCLUDE" ? ref.cookieIncludes : ref.cookieExcludes)
                    .push_back(std::move(*pattern));
                ++patterns;
            }
        } else if (name == "METHOD") {
            ref.methods.push_back(child->text);
            ++patterns;
        }
    }
    return ref;
}

bool coversCookie(const CookiePattern& pattern, bool nameIsPattern, const std::string& name,
                  const std::string& value, const std::string& upperDomain,
                  std::uint64_t& allowance) {
    const bool nameMatches =
        nameIsPattern ? wildcardMatch(pattern.name, name, allowance) : pattern.name == name;
    return nameMatches && wildcardMatch(pattern.domain, upperDomain, allowance) &&
           (pattern.value.empty() || pattern.value == value);
}

// The header text the "policyref=" extraction reads, P3P headers first so that their value wins.
std::string headerText(const HttpHeaders& headers) {
    std::string p3p;
    std::string others;
    for (const auto& [name, value] : headers) {
        (upperCaseAscii(name) == "P3P" ? p3p : others) += name + ": " + value + "\r\n";
    }
    return p3p + others;
}

}  // namespace

Url joinUrl(const std::string& base, const std::string& path) {
    if (isAbsoluteUrl(path)) {
        return Url(collapseSlashes(path));
    }
    const std::size_t split = std::min(base.find_first_of("#?&;", pathStart(base)), base.size());
    std::string joined = base.substr(0, split);
    if (joined.empty() || joined.back() != '/') {
        joined += '/';
    }
    joined += path;
    joined += base.substr(split);
    return Url(collapseSlashes(joined));
}

bool isValidHintScope(const std::string& scope) {
    const std::size_t scheme = scope.find("://");
    if (scope.empty() || scheme == std::string::npos) {
        return false;
    }
    // The URL parser takes no "*" in a host; a letter in its place reads the same way.
    std::string probe = scope;
    std::replace(probe.begin(), probe.end(), '*', 'x');
    try {
        const Url url(probe);
        const std::string protocol = url.protocol();
        if ((protocol != "http" && protocol != "https") ||
            upperCaseAscii(url.base()) != upperCaseAscii(probe)) {
            return false;
        }
    } catch (const Error&) {
        return false;
    }
    const std::string host = scope.substr(scheme + 3);
    return host.find('*') == std::string::npos || host.starts_with("*.");
}

ReferenceStore::ReferenceStore(DocumentSource* source) : source_(source) {}

void ReferenceStore::setDocumentSource(DocumentSource* source) {
    RetrievalGuard guard(retrievalLock());
    source_ = source;
}

bool ReferenceStore::loadReferenceFile(const Url& file, const Url& page) {
    std::set<std::string> visited;
    return loadChain(file, page, visited, false);
}

bool ReferenceStore::probeReferenceFile(const Url& file, const Url& page) {
    std::set<std::string> visited;
    return loadChain(file, page, visited, true);
}

// visited holds the files of this chain, so a chain of P3P headers that comes back to an earlier
// file ends there, as does one longer than kMaxFollowUps. Only the first file of a chain can be
// a probe: the files its headers name are references of the site.
bool ReferenceStore::loadChain(const Url& file, const Url& page, std::set<std::string>& visited,
                               bool probe) {
    if (file.empty()) {
        return false;
    }
    if (isLoaded(file)) {
        return true;
    }
    visited.insert(file.str());
    DocumentSource* source = nullptr;
    {
        RetrievalGuard guard(retrievalLock());
        source = source_;
    }
    if (source == nullptr) {
        return false;
    }
    HttpHeaders headers;
    std::optional<std::string> text;
    try {
        text = source->getDocument(file.withoutFragment().str(), &headers);
    } catch (const Error& error) {
        if (!probe || error.message() != kXmlParseError) {
            throw;
        }
    }
    const bool obtained = text.has_value();
    if (obtained) {
        readReferenceFile(file, *text);
        text.reset();
    }
    const Url next = extractPolicyRef(headerText(headers), file);
    if (!next.empty() && next.str() != file.str() && !visited.contains(next.str()) &&
        visited.size() <= kMaxFollowUps) {
        loadChain(next, page, visited, false);
    }
    return obtained;
}

void ReferenceStore::readReferenceFile(const Url& file, const std::string& text) {
    if (file.empty()) {
        return;
    }
    RetrievalGuard guard(retrievalLock());
    XmlNodePtr root;
    try {
        root = XmlNode::parseXmlBuffer(text);
    } catch (const Error&) {
        return;
    }
    if (!root || root->name != "META") {
        return;
    }
    std::size_t hints = 0;
    for (const XmlNodePtr& child : root->children()) {
        if (child->name == "POLICY-REFERENCES") {
            readPolicyReferences(*child, file, hints);
        }
    }
}

void ReferenceStore::readPolicyReferences(const XmlNode& element, const Url& file,
                                          std::size_t& hints) {
    const std::string root = file.base();
    PolicyRefFile record{file, {}};
    std::size_t patterns = 0;
    for (const XmlNodePtr& child : element.children()) {
        if (child->name == "POLICY-REF" && record.references.size() < kMaxReferences) {
            if (auto ref = readPolicyRef(*child, file, root, patterns)) {
                record.references.push_back(std::move(*ref));
            }
        } else if (child->name == "HINT" && hints < kMaxHintsPerFile && readHint(*child)) {
            ++hints;
        }
    }
    sites_[root][file.str()] = std::move(record);
}

bool ReferenceStore::readHint(const XmlNode& hint) {
    const std::string* scope = hint.attribute("DOMAIN");
    if (scope == nullptr) {
        scope = hint.attribute("SCOPE");
    }
    const std::string* path = hint.attribute("PATH");
    if (scope == nullptr || path == nullptr || path->empty() || !isValidHintScope(*scope)) {
        return false;
    }
    hints_[*scope] = *path;
    return true;
}

Url ReferenceStore::lookupPolicy(const Url& page, const std::string& method) const {
    RetrievalGuard guard(retrievalLock());
    if (page.empty()) {
        return Url();
    }
    const std::string root = page.base();
    const std::string text = page.str() == root ? root + "/" : page.str();
    const auto site = sites_.find(root);
    if (site == sites_.end()) {
        return Url();
    }
    std::uint64_t allowance = kMaxMatchSteps;
    const auto matches = [&](const std::string& pattern) {
        return wildcardMatch(pattern, text, allowance);
    };
    for (const auto& [fileUrl, file] : site->second) {
        for (const PolicyRef& ref : file.references) {
            if (!ref.methods.empty() &&
                std::find(ref.methods.begin(), ref.methods.end(), method) == ref.methods.end()) {
                continue;
            }
            if (std::any_of(ref.excludes.begin(), ref.excludes.end(), matches)) {
                continue;
            }
            if (std::any_of(ref.includes.begin(), ref.includes.end(), matches)) {
                return ref.policyUrl;
            }
            if (allowance == 0) {
                return Url();
            }
        }
    }
    return Url();
}

// The cookie path takes no part in the decision.
Url ReferenceStore::lookupCookiePolicy(const std::string& name, const std::string& value,
                                       const std::string& domain, const std::string&) const {
    RetrievalGuard guard(retrievalLock());
    if (domain.empty()) {
        return Url();
    }
    // Domain patterns are held upper-cased; exclusions and inclusions alike compare the cookie
    // domain upper-cased, so a cookie excluded in one case is excluded in every case.
    const std::string upperDomain = upperCaseAscii(domain);
    const std::string sitePattern = "*." + domain;
    std::uint64_t allowance = kMaxMatchSteps;
    for (const auto& [root, files] : sites_) {
        if (!wildcardMatch(sitePattern, Url(root).host())) {
            continue;
        }
        for (const auto& [fileUrl, file] : files) {
            for (const PolicyRef& ref : file.references) {
                const auto excludes = [&](const CookiePattern& pattern) {
                    return coversCookie(pattern, false, name, value, upperDomain, allowance);
                };
                const auto includes = [&](const CookiePattern& pattern) {
                    return coversCookie(pattern, true, name, value, upperDomain, allowance);
                };
                if (std::any_of(ref.cookieExcludes.begin(), ref.cookieExcludes.end(), excludes)) {
                    continue;
                }
                if (std::any_of(ref.cookieIncludes.begin(), ref.cookieIncludes.end(), includes)) {
                    return ref.policyUrl;
                }
                if (allowance == 0) {
                    return Url();
                }
            }
        }
    }
    return Url();
}

std::vector<Url> ReferenceStore::referenceFilesFor(const Url& url) const {
    RetrievalGuard guard(retrievalLock());
    std::vector<Url> files;
    if (url.empty()) {
        return files;
    }
    const std::string root = url.base();
    for (const auto& [scope, path] : hints_) {
        if (!wildcardMatch(scope, root)) {
            continue;
        }
        try {
            files.push_back(joinUrl(root, path));
        } catch (const Error&) {
            // a path that makes no URL gives no candidate
        }
    }
    return files;
}

bool ReferenceStore::isLoaded(const Url& file) const {
    RetrievalGuard guard(retrievalLock());
    return findFile(file) != nullptr;
}

std::optional<PolicyRefFile> ReferenceStore::referenceFile(const Url& file) const {
    RetrievalGuard guard(retrievalLock());
    const PolicyRefFile* record = findFile(file);
    return record ? std::optional<PolicyRefFile>(*record) : std::nullopt;
}

const PolicyRefFile* ReferenceStore::findFile(const Url& file) const {
    if (file.empty()) {
        return nullptr;
    }
    const auto site = sites_.find(file.base());
    if (site == sites_.end()) {
        return nullptr;
    }
    const auto record = site->second.find(file.str());
    return record == site->second.end() ? nullptr : &record->second;
}

void ReferenceStore::clear() {
    RetrievalGuard guard(retrievalLock());
    sites_.clear();
    hints_.clear();
}

}  // namespace perchlight
