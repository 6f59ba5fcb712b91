// Every document is asked of the network once per check, also when the cache cannot keep it.
#include "retrieval/CheckDocuments.h"

#include <gtest/gtest.h>

#include <map>
#include <mutex>
#include <thread>

#include "LoopbackServer.h"
#include "TestSupport.h"
#include "browser/AgentServices.h"
#include "browser/HeadlessOwner.h"
#include "retrieval/PageCheck.h"

namespace perchlight {
namespace {

const char* kPast = "Thu, 01 Jan 1998 00:00:00 GMT";

std::string references(const std::string& about, const std::string& expiry = "") {
    return "<META><POLICY-REFERENCES>" + expiry + "<POLICY-REF about='" + about +
           "'><INCLUDE>/*</INCLUDE></POLICY-REF></POLICY-REFERENCES></META>";
}

std::string basicPolicy(const std::string& expiry = "") {
    std::string text = test::readFile(test::dataDir() / "examples" / "shop-basic.xml");
    const std::size_t policies = text.find('>', text.find("<POLICIES")) + 1;
    text.insert(policies, expiry);
    return text;
}

std::string expired() {
    return std::string("<EXPIRY date=\"") + kPast + "\"/>";
}

// One site: what it serves at the well-known location and at its policy, and the verdict due.
struct Case {
    const char* name;
    std::string wellKnown;
    std::string policy;
    int verdict;
};

void PrintTo(const Case& site, std::ostream* out) {
    *out << site.name;
}

std::vector<Case> cases() {
    const std::string html = "<html><body><p>Not found<br></body></html>";
    return {
        {"PolicyNotXml", references("/w3c/policy.xml#basic"), html, kVerdictUnknown},
        {"PolicyExpired", references("/w3c/policy.xml#basic"), basicPolicy(expired()),
         kVerdictUnknown},
        // The page's LINK names the same policy, which the check then finds.
        {"WellKnownHtml", html, basicPolicy(), kVerdictMatched},
        {"WellKnownExpired", references("/w3c/policy.xml#basic", expired()), basicPolicy(),
         kVerdictMatched},
    };
}

class CheckDocumentsTest : public ::testing::TestWithParam<std::tuple<Case, bool>> {
  protected:
    void serve(const std::string& path, const std::string& body) {
        site_.server().Get(path, [=, this](const httplib::Request&, httplib::Response& r) {
            {
                std::lock_guard guard(lock_);
                ++requests_[path];
            }
            r.set_content(body, "text/xml");
        });
    }

    std::map<std::string, int> requests() {
        std::lock_guard guard(lock_);
        return requests_;
    }

    test::LoopbackServer site_;
    std::mutex lock_;
    std::map<std::string, int> requests_;
};

// An owner that can do without the prefetch: the check alone fetches once too.
class Owner : public HeadlessOwner {
  public:
    Owner(P3PMatchInfo& info, bool prefetch) : HeadlessOwner(info), prefetch_(prefetch) {}
    bool prefetches() const override { return prefetch_; }

  private:
    bool prefetch_;
};

TEST_P(CheckDocumentsTest, ColdCheck_EachDocumentRequestedOnce) {
    const auto& [site, prefetch] = GetParam();
    serve("/w3c/p3p.xml", site.wellKnown);
    serve("/w3c/policy.xml", site.policy);
    serve("/link.xml", references("/w3c/policy.xml#basic"));
    serve("/index.html",
          "<html><head><link rel='P3Pv1' href='/link.xml'></head><body>page</body></html>");
    site_.start();
    test::ModuleHome home({"BaseDataschema-std.xml", "appel-medium.xml"});
    AgentServices services(home.path().string());
    services.setRuleSetFile((home.path() / "appel-medium.xml").string());
    P3PMatchInfo info(services.referenceStore(), services.cache());
    Owner owner(info, prefetch);
    const Url page(site_.url("/index.html"));
    owner.loadPage(page, false);
    std::thread thread(runCheckThread, std::ref(owner), page, "");
    thread.join();
    EXPECT_EQ(owner.verdict(), site.verdict);
    for (const auto& [path, count] : requests()) {
        EXPECT_EQ(count, 1) << path;
    }
    EXPECT_EQ(requests().count("/w3c/policy.xml"), 1u);
    EXPECT_TRUE(test::transfersEnd());
}

INSTANTIATE_TEST_SUITE_P(Sites, CheckDocumentsTest,
                         ::testing::Combine(::testing::ValuesIn(cases()), ::testing::Bool()),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param).name) +
                                    (std::get<1>(info.param) ? "_Prefetch" : "_NoPrefetch");
                         });

TEST(CheckDocuments_Keep, FindsWhatWasKeptAndReplaces) {
    CheckDocuments documents;
    EXPECT_FALSE(documents.find("http://a.example/p.xml"));
    CheckDocuments::Kept kept;
    kept.dropped = "<html>";
    kept.headers = "HTTP/1.1 200 OK\r\n\r\n";
    documents.keep("http://a.example/p.xml", kept);
    kept.dropped = "<other>";
    documents.keep("http://a.example/p.xml", kept);
    ASSERT_TRUE(documents.find("http://a.example/p.xml"));
    EXPECT_EQ(documents.find("http://a.example/p.xml")->dropped, "<other>");
    EXPECT_FALSE(documents.find("http://a.example/q.xml"));
}

TEST(CheckDocuments_Keep, PassesOverTextsPastTheBound) {
    CheckDocuments documents;
    CheckDocuments::Kept large;
    large.dropped = std::string(CheckDocuments::kMaxKeptBytes / 2 + 1, 'x');
    documents.keep("http://a.example/1", large);
    documents.keep("http://a.example/2", large);
    EXPECT_TRUE(documents.find("http://a.example/1"));
    EXPECT_FALSE(documents.find("http://a.example/2"));
}

TEST(CheckDocuments_Scope, InstallsAndRestores) {
    CheckDocuments outer;
    CheckDocuments inner;
    EXPECT_EQ(CheckDocuments::current(), nullptr);
    {
        CheckDocuments::Scope first(&outer);
        {
            CheckDocuments::Scope second(&inner);
            EXPECT_EQ(CheckDocuments::current(), &inner);
        }
        EXPECT_EQ(CheckDocuments::current(), &outer);
    }
    EXPECT_EQ(CheckDocuments::current(), nullptr);
}

}  // namespace
}  // namespace perchlight
