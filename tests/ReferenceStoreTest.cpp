#include "retrieval/ReferenceStore.h"
#include "retrieval/ReferenceStoreDetail.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <future>
#include <map>
#include <string>

#include "util/Error.h"

namespace perchlight {
namespace {

const Url kWellKnown("http://www.example.com/w3c/p3p.xml");

std::string referenceFile(const std::string& body) {
    return "<META xmlns=\"http://www.w3.org/2002/01/P3Pv1\"><POLICY-REFERENCES>" + body +
           "</POLICY-REFERENCES></META>";
}

std::string policyRef(const std::string& about, const std::string& children) {
    return "<POLICY-REF about=\"" + about + "\">" + children + "</POLICY-REF>";
}

// Serves canned texts and headers by URL and counts the requests.
class FakeSource : public DocumentSource {
  public:
    struct Response {
        std::optional<std::string> text;
        HttpHeaders headers;
    };

    std::optional<std::string> getDocument(const std::string& url, HttpHeaders* headers) override {
        ++calls[url];
        if (duringFetch) {
            duringFetch();
        }
        const auto response = responses.find(url);
        if (response == responses.end()) {
            return std::nullopt;
        }
        if (headers != nullptr) {
            *headers = response->second.headers;
        }
        return response->second.text;
    }

    std::map<std::string, Response> responses;
    std::map<std::string, int> calls;
    std::function<void()> duringFetch;
};

class ReferenceStoreTest : public ::testing::Test {
  protected:
    void serve(const std::string& url, std::optional<std::string> text, HttpHeaders headers = {}) {
        source_.responses[url] = {std::move(text), std::move(headers)};
    }
    void read(const Url& file, const std::string& body) {
        store_.readReferenceFile(file, referenceFile(body));
    }
    std::string lookup(const std::string& page, const std::string& method = "GET") {
        return store_.lookupPolicy(Url(page), method).str();
    }
    std::string cookie(const std::string& name, const std::string& value,
                       const std::string& domain) {
        return store_.lookupCookiePolicy(name, value, domain, "/").str();
    }

    FakeSource source_;
    ReferenceStore store_{&source_};
};

TEST(JoinUrl, FollowsTheJoiningRule) {
    const struct {
        const char* base;
        const char* path;
        const char* joined;
    } cases[] = {
        {"http://a.example", "/w3c/p3p.xml", "http://a.example/w3c/p3p.xml"},
        {"http://a.example/w3c/", "policy.xml", "http://a.example/w3c/policy.xml"},
        {"http://a.example/w3c/", "../p.xml", "http://a.example/p.xml"},
        {"http://a.example", "/a//b/./c", "http://a.example/a/b/c"},
        {"http://a.example", "", "http://a.example/"},
        {"http://a.example/dir?q=1", "x", "http://a.example/dir/x?q=1"},
        {"http://a.example/dir;s=1", "x", "http://a.example/dir/x;s=1"},
        {"http://a.example", "/cgi?u=//x", "http://a.example/cgi?u=//x"},
        {"http://a.example", "https://b.example//p.xml", "https://b.example/p.xml"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(joinUrl(c.base, c.path).str(), c.joined) << c.base << " + " << c.path;
    }
    EXPECT_THROW(joinUrl("http://a.example", "/a b"), Error);
}

TEST(IsValidHintScope, AcceptsOnlyHttpServerRootsWithALeadingWildcardLabel) {
    const std::pair<const char*, bool> cases[] = {
        {"http://*.example.com", true},
        {"https://www.example.com", true},
        {"HTTP://*.EXAMPLE.COM", true},
        {"http://*.example.com:8080", true},
        {"http://*.example.com/path", false},
        {"http://www.example.com/", false},
        {"ftp://*.example.com", false},
        {"http://www*.example.com", false},
        {"http://*", false},
        {"*.example.com", false},
        {"", false},
        {"http://a.example:8*", false},
    };
    for (const auto& [scope, valid] : cases) {
        EXPECT_EQ(isValidHintScope(scope), valid) << scope;
    }
}

// "/*" covering the bare root, a directory INCLUDE, an EXCLUDE falling through to the next
// POLICY-REF, a METHOD restriction.
TEST_F(ReferenceStoreTest, LookupPolicy_IncludeExcludeAndMethodRules) {
    read(kWellKnown,
         policyRef("/post.xml", "<METHOD>POST</METHOD><INCLUDE>/form/*</INCLUDE>") +
             policyRef("/shop.xml", "<INCLUDE>/shop/</INCLUDE>") +
             policyRef("/all.xml", "<INCLUDE>/*</INCLUDE><EXCLUDE>/private/*</EXCLUDE>") +
             policyRef("/private.xml", "<INCLUDE>/private/*</INCLUDE>"));
    const struct {
        const char* page;
        const char* method;
        const char* policy;
    } cases[] = {
        {"http://www.example.com", "GET", "/all.xml"},
        {"http://www.example.com/a/b.html?x=1", "GET", "/all.xml"},
        {"http://www.example.com/shop/", "GET", "/shop.xml"},
        {"http://www.example.com/shop/cart/x.html", "GET", "/shop.xml"},
        {"http://www.example.com/shopping", "GET", "/all.xml"},
        {"http://www.example.com/private/a", "GET", "/private.xml"},
        {"http://www.example.com/form/a", "POST", "/post.xml"},
        {"http://www.example.com/form/a", "GET", "/all.xml"},
        {"http://www.example.com/form/a", "post", "/all.xml"},
        {"https://www.example.com/", "GET", ""},
        {"http://other.example.com/", "GET", ""},
    };
    for (const auto& c : cases) {
        const std::string expected =
            *c.policy ? "http://www.example.com" + std::string(c.policy) : "";
        EXPECT_EQ(lookup(c.page, c.method), expected) << c.page << " " << c.method;
    }
}

TEST_F(ReferenceStoreTest, ReadPolicyRef_ResolvesAbout) {
    const std::pair<const char*, const char*> cases[] = {
        {"#first", "http://www.example.com/w3c/p3p.xml#first"},
        {"policy.xml", "http://www.example.com/w3c/policy.xml"},
        {"policy.xml#p2", "http://www.example.com/w3c/policy.xml#p2"},
        {"../policy.xml", "http://www.example.com/policy.xml"},
        {"/policies//p.xml", "http://www.example.com/policies/p.xml"},
        {"https://policies.example/p.xml", "https://policies.example/p.xml"},
    };
    for (const auto& [about, resolved] : cases) {
        read(kWellKnown, policyRef(about, "<INCLUDE>/*</INCLUDE>"));
        EXPECT_EQ(lookup("http://www.example.com/x"), resolved) << about;
    }
}

TEST_F(ReferenceStoreTest, ReadPolicyRef_PassesOverWhatItCannotUse) {
    read(kWellKnown,
         "<POLICY-REF><INCLUDE>/*</INCLUDE></POLICY-REF>" +
             policyRef("/abs.xml", "<INCLUDE>http://www.example.com/*</INCLUDE>") +
             policyRef("/bad.xml", "<INCLUDE>/a b</INCLUDE>") +
             policyRef("/long.xml", "<INCLUDE>/" + std::string(3000, 'a') + "*</INCLUDE>") +
             policyRef("/last.xml", "<INCLUDE>/*</INCLUDE>"));
    const auto record = store_.referenceFile(kWellKnown);
    ASSERT_TRUE(record);
    ASSERT_EQ(record->references.size(), 4u) << "the POLICY-REF without about is skipped";
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_TRUE(record->references[i].includes.empty()) << i;
    }
    EXPECT_EQ(lookup("http://www.example.com/" + std::string(3000, 'a')),
              "http://www.example.com/last.xml");
}

TEST_F(ReferenceStoreTest, ReadReferenceFile_ReplacesTheRecordOrStoresNothing) {
    store_.readReferenceFile(kWellKnown, "<META><POLICY-REFERENCES>");
    store_.readReferenceFile(kWellKnown, "<POLICY-REFERENCES/>");
    EXPECT_FALSE(store_.isLoaded(kWellKnown)) << "malformed text or another root";
    read(kWellKnown, policyRef("/old.xml", "<INCLUDE>/old/*</INCLUDE>"));
    read(kWellKnown, policyRef("/new.xml", "<INCLUDE>/new/*</INCLUDE>"));
    EXPECT_EQ(lookup("http://www.example.com/old/a"), "");
    EXPECT_EQ(lookup("http://www.example.com/new/a"), "http://www.example.com/new.xml");
}

TEST_F(ReferenceStoreTest, ReadReferenceFile_KeepsAtMostTheBoundedNumberOfReferences) {
    std::string body;
    for (std::size_t i = 0; i <= ReferenceStore::kMaxReferences; ++i) {
        body += policyRef("/p" + std::to_string(i) + ".xml",
                          "<INCLUDE>/" + std::to_string(i) + "</INCLUDE>");
    }
    read(kWellKnown, body);
    EXPECT_EQ(store_.referenceFile(kWellKnown)->references.size(), ReferenceStore::kMaxReferences);
}

TEST_F(ReferenceStoreTest, SeveralFilesOfOneSite_AreConsultedInUrlOrder) {
    read(Url("http://www.example.com/z.xml"), policyRef("/z.xml", "<INCLUDE>/*</INCLUDE>"));
    read(Url("http://www.example.com/a.xml"), policyRef("/a.xml", "<INCLUDE>/*</INCLUDE>"));
    EXPECT_EQ(lookup("http://www.example.com/x"), "http://www.example.com/a.xml");
}

TEST_F(ReferenceStoreTest, Hints_GiveTheCandidateFileAtTheHostsServerRoot) {
    read(kWellKnown,
         "<HINT scope=\"http://*.shop.example\" path=\"/w3c/p3p.xml\"/>"
         "<HINT scope=\"http://www.other.example/dir\" path=\"/w3c/p3p.xml\"/>"
         "<HINT scope=\"http://*.nopath.example\"/>"
         "<HINT domain=\"http://www.domain.example\" scope=\"http://www.scope.example\" "
         "path=\"/refs.xml\"/>");
    EXPECT_EQ(store_.referenceFilesFor(Url("http://cdn.shop.example/img/a.png")),
              std::vector<Url>{Url("http://cdn.shop.example/w3c/p3p.xml")});
    EXPECT_TRUE(store_.referenceFilesFor(Url("http://www.other.example/dir/a")).empty());
    EXPECT_TRUE(store_.referenceFilesFor(Url("http://a.nopath.example/")).empty());
    EXPECT_TRUE(store_.referenceFilesFor(Url("http://www.scope.example/")).empty());
    EXPECT_EQ(store_.referenceFilesFor(Url("http://www.domain.example/x")),
              std::vector<Url>{Url("http://www.domain.example/refs.xml")});
}

TEST_F(ReferenceStoreTest, Clear_EmptiesTheStoreAndTheHints) {
    read(kWellKnown, "<HINT scope=\"http://*.a.example\" path=\"/p.xml\"/>" +
                         policyRef("/p.xml", "<INCLUDE>/*</INCLUDE>"));
    store_.clear();
    EXPECT_FALSE(store_.isLoaded(kWellKnown));
    EXPECT_TRUE(store_.referenceFilesFor(Url("http://b.a.example/")).empty());
}

TEST_F(ReferenceStoreTest, LoadReferenceFile_FetchesOnceAndReportsWhetherTextCame) {
    serve(kWellKnown.str(), referenceFile(policyRef("/p.xml", "<INCLUDE>/*</INCLUDE>")));
    const Url page("http://www.example.com/a");
    EXPECT_TRUE(store_.loadReferenceFile(kWellKnown, page));
    EXPECT_TRUE(store_.loadReferenceFile(kWellKnown, page));
    EXPECT_EQ(source_.calls[kWellKnown.str()], 1);
    EXPECT_EQ(lookup("http://www.example.com/a"), "http://www.example.com/p.xml");

    const Url missing("http://none.example/w3c/p3p.xml");
    EXPECT_FALSE(store_.loadReferenceFile(missing, page));
    EXPECT_FALSE(store_.isLoaded(missing));
    EXPECT_FALSE(ReferenceStore().loadReferenceFile(kWellKnown, page)) << "no source";
    store_.loadReferenceFile(Url(kWellKnown.str() + "#refs"), page);
    EXPECT_EQ(source_.calls[kWellKnown.str()], 2) << "fetched without its fragment";
}

TEST_F(ReferenceStoreTest, LoadReferenceFile_SourceErrorsReachTheCaller) {
    source_.duringFetch = [] { PERCHLIGHT_RAISE("XML parse error", "XmlNode"); };
    EXPECT_THROW(store_.loadReferenceFile(kWellKnown, kWellKnown), Error);
    EXPECT_FALSE(store_.isLoaded(kWellKnown));
}

TEST_F(ReferenceStoreTest, LoadReferenceFile_FetchesOutsideTheRetrievalLock) {
    serve(kWellKnown.str(), referenceFile(""));
    source_.duringFetch = [this] {
        auto other = std::async(std::launch::async, [this] { return store_.isLoaded(kWellKnown); });
        EXPECT_EQ(other.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    };
    EXPECT_TRUE(store_.loadReferenceFile(kWellKnown, kWellKnown));
}

TEST_F(ReferenceStoreTest, FollowUp_LoadsTheFileNamedByTheP3PHeader) {
    serve(kWellKnown.str(), referenceFile(""),
          {{"Content-Type", "text/xml"}, {"p3p", "policyref=\"/more/refs.xml\", CP=\"NOI\""}});
    serve("http://www.example.com/more/refs.xml",
          referenceFile(policyRef("/more.xml", "<INCLUDE>/more/*</INCLUDE>")));
    EXPECT_TRUE(store_.loadReferenceFile(kWellKnown, kWellKnown));
    EXPECT_TRUE(store_.isLoaded(Url("http://www.example.com/more/refs.xml")));
    EXPECT_EQ(lookup("http://www.example.com/more/x"), "http://www.example.com/more.xml");

    serve("http://d.example/none.xml", std::nullopt, {{"P3P", "policyref=\"/refs.xml\""}});
    serve("http://d.example/refs.xml", referenceFile(""));
    EXPECT_FALSE(store_.loadReferenceFile(Url("http://d.example/none.xml"), kWellKnown));
    EXPECT_TRUE(store_.isLoaded(Url("http://d.example/refs.xml"))) << "followed without text";
}

TEST_F(ReferenceStoreTest, FollowUp_EndsAtACycleOrAfterTheBound) {
    serve(kWellKnown.str(), referenceFile(""), {{"P3P", "policyref=\"/w3c/p3p.xml\""}});
    EXPECT_TRUE(store_.loadReferenceFile(kWellKnown, kWellKnown));
    EXPECT_EQ(source_.calls[kWellKnown.str()], 1);

    // Files that give no text are never "loaded", so only the visited files end this cycle.
    serve("http://b.example/a.xml", std::nullopt, {{"P3P", "policyref=\"/b.xml\""}});
    serve("http://b.example/b.xml", std::nullopt, {{"P3P", "policyref=\"/a.xml\""}});
    EXPECT_FALSE(store_.loadReferenceFile(Url("http://b.example/a.xml"), kWellKnown));
    EXPECT_EQ(source_.calls["http://b.example/a.xml"], 1);
    EXPECT_EQ(source_.calls["http://b.example/b.xml"], 1);

    const auto file = [](std::size_t i) {
        return "http://c.example/" + std::to_string(i) + ".xml";
    };
    for (std::size_t i = 0; i < 20; ++i) {
        serve(file(i), referenceFile(""),
              {{"P3P", "policyref=\"/" + std::to_string(i + 1) + ".xml\""}});
    }
    EXPECT_TRUE(store_.loadReferenceFile(Url(file(0)), Url(file(0))));
    EXPECT_TRUE(store_.isLoaded(Url(file(ReferenceStore::kMaxFollowUps))));
    EXPECT_FALSE(store_.isLoaded(Url(file(ReferenceStore::kMaxFollowUps + 1))));
}

TEST_F(ReferenceStoreTest, ReadCookiePattern_FromAttributesOrText) {
    read(kWellKnown, policyRef("/p.xml",
                               "<COOKIE-INCLUDE name=\"id\" value=\"7\" domain=\".Example.com\" "
                               "path=\"/a\"/>"
                               "<COOKIE-INCLUDE>sess</COOKIE-INCLUDE>"
                               "<COOKIE-INCLUDE>sess .example.com</COOKIE-INCLUDE>"
                               "<COOKIE-INCLUDE>sess ..example.com /a /b</COOKIE-INCLUDE>"
                               "<COOKIE-INCLUDE></COOKIE-INCLUDE>"));
    const std::vector<CookiePattern> expected = {
        {"id", "7", "EXAMPLE.COM", "/a"},
        {"sess", "", "", ""},
        {"sess", "", "EXAMPLE.COM", ""},
        {"sess", "", ".EXAMPLE.COM", "/a /b"},
    };
    EXPECT_EQ(store_.referenceFile(kWellKnown)->references.at(0).cookieIncludes, expected);
}

TEST_F(ReferenceStoreTest, LookupCookiePolicy_IncludesExcludesAndFallsThrough) {
    read(kWellKnown, policyRef("/cookies.xml",
                               "<COOKIE-INCLUDE name=\"*\" domain=\".example.com\"/>"
                               "<COOKIE-EXCLUDE name=\"track\" domain=\"example.com\"/>"
                               "<COOKIE-EXCLUDE name=\"mode\" value=\"debug\" domain=\"*\"/>") +
                         policyRef("/other.xml", "<COOKIE-INCLUDE>* example.com</COOKIE-INCLUDE>"));
    const struct {
        const char* name;
        const char* value;
        const char* domain;
        const char* policy;
    } cases[] = {
        {"id", "1", "example.com", "http://www.example.com/cookies.xml"},
        {"track", "1", "example.com", "http://www.example.com/other.xml"},
        {"mode", "debug", "example.com", "http://www.example.com/other.xml"},
        {"mode", "fast", "example.com", "http://www.example.com/cookies.xml"},
        {"id", "1", "", ""},
        {"id", "1", "elsewhere.example", ""},
        {"id", "1", "www.example.com", ""},  // the host must lie below the cookie domain
    };
    for (const auto& c : cases) {
        EXPECT_EQ(cookie(c.name, c.value, c.domain), c.policy) << c.name << "=" << c.value;
    }
}

TEST_F(ReferenceStoreTest, LookupCookiePolicy_ExclusionIgnoresTheCaseOfTheCookieDomain) {
    const Url file("http://www.Example.com/w3c/p3p.xml");
    read(file, policyRef("/p.xml",
                         "<COOKIE-INCLUDE name=\"*\" domain=\"*\"/>"
                         "<COOKIE-EXCLUDE name=\"track\" domain=\"example.com\"/>"));
    EXPECT_EQ(cookie("id", "1", "Example.com"), "http://www.Example.com/p.xml");
    EXPECT_EQ(cookie("track", "1", "Example.com"), "");
}

}  // namespace
}  // namespace perchlight
