#include "retrieval/PageCheck.h"

#include <gtest/gtest.h>

#include <map>
#include <mutex>

#include "LoopbackServer.h"
#include "TestSupport.h"
#include "browser/HeadlessOwner.h"
#include "core/P3PEvaluator.h"
#include "retrieval/PolicyCache.h"
#include "retrieval/ReferenceStore.h"

namespace perchlight {
namespace {

const char* kReferences =
    "<META><POLICY-REFERENCES><POLICY-REF about='/w3c/policy.xml#basic'><INCLUDE>/*</INCLUDE>"
    "</POLICY-REF></POLICY-REFERENCES></META>";

// A site on a loopback server; each path serves canned text and counts its requests.
class PageCheckTest : public ::testing::Test {
  protected:
    PageCheckTest()
        : home_({"BaseDataschema-std.xml"}),
          cache_((home_.path() / "cache").string()),
          store_(&cache_),
          info_(store_, cache_) {
        cache_.setEvaluator(&evaluator_);
        cache_.setRuleSetReader([](std::string& ruleSet) {
            ruleSet = test::readFile(test::dataDir() / "appel-high.xml");
            return true;
        });
        serve("/w3c/policy.xml", test::readFile(test::dataDir() / "examples" / "shop-basic.xml"));
    }

    void serve(const std::string& path, const std::string& body,
               const std::string& p3pHeader = "") {
        loopback_.server().Get(path, [=, this](const httplib::Request&, httplib::Response& r) {
            {
                std::lock_guard guard(lock_);
                ++requests_[path];
            }
            if (!p3pHeader.empty()) {
                r.set_header("P3P", p3pHeader);
            }
            r.set_content(body, "text/html");
        });
    }

    int requests(const std::string& path) {
        std::lock_guard guard(lock_);
        return requests_[path];
    }

    // Loads the page as the browser would and checks it on a check thread of its own.
    int check(HeadlessOwner& owner, const std::string& path, bool posted = false) {
        const Url page(loopback_.url(path));
        owner.loadPage(page, posted);
        std::thread thread(runCheckThread, std::ref(owner), owner.pageUrl(), posted ? "a=1" : "");
        thread.join();
        return owner.verdict();
    }

    test::ModuleHome home_;
    test::LoopbackServer loopback_;
    std::mutex lock_;
    std::map<std::string, int> requests_;
    PolicyCache cache_;
    // Evaluates with the shipped base data schema, as the agent's services do.
    const P3PEvaluator evaluator_{&cache_, test::shippedSchema()};
    ReferenceStore store_;
    P3PMatchInfo info_;
};

TEST_F(PageCheckTest, Discovery_WellKnownLocationComesFirst) {
    serve("/w3c/p3p.xml", kReferences);
    serve("/index.html", "<link rel=P3Pv1 href=/other.xml><img src=/logo.png>");
    loopback_.start();
    HeadlessOwner owner(info_);
    EXPECT_EQ(check(owner, "/index.html"), kVerdictMatched);
    EXPECT_EQ(requests("/other.xml"), 0);
    EXPECT_EQ(owner.sounds(), std::vector<std::string>{"match"});
    EXPECT_EQ(info_.embeddedState(Url(loopback_.url("/logo.png"))), 0);
}

TEST_F(PageCheckTest, Discovery_ThenTheLinkThenTheHeader) {
    serve("/refs.xml", kReferences);
    serve("/linked.html", "<link rel=p3pv1 href=/refs.xml>");
    serve("/headed.html", "<p>no link</p>", "policyref=\"/refs.xml\", CP=\"NOI\"");
    loopback_.start();
    HeadlessOwner linked(info_);
    EXPECT_EQ(check(linked, "/linked.html"), kVerdictMatched);

    store_.clear();
    cache_.clearCache();
    HeadlessOwner headed(info_);
    EXPECT_EQ(check(headed, "/headed.html"), kVerdictMatched);
}

TEST_F(PageCheckTest, CompactPolicy_HeadersOfThePageAndItsFramesAreKeptWhole) {
    serve("/w3c/p3p.xml", kReferences);
    serve("/index.html", "<iframe src=/frame.html></iframe>", "CP=\"TEL CURa\"");
    serve("/frame.html", "<p>framed</p>", "policyref=\"/w3c/p3p.xml\", CP=\"ALL\"");
    loopback_.start();
    HeadlessOwner owner(info_);
    // The page's compact policy is faulty and says it telemarkets: the verdict is the full one's.
    EXPECT_EQ(check(owner, "/index.html"), kVerdictMatched);
    ASSERT_EQ(owner.p3pHeaders().size(), 2u);
    EXPECT_EQ(owner.p3pHeaders()[0].url, Url(loopback_.url("/index.html")));
    EXPECT_EQ(owner.p3pHeaders()[0].value, "CP=\"TEL CURa\"");
    EXPECT_EQ(owner.p3pHeaders()[1].value, "policyref=\"/w3c/p3p.xml\", CP=\"ALL\"");
}

TEST_F(PageCheckTest, CompactPolicy_TheHeaderProbeKeepsThePagesCompactPolicy) {
    serve("/refs.xml", kReferences);
    serve("/headed.html", "<p>no link</p>", "policyref=\"/refs.xml\", CP=\"NOI\"");
    loopback_.start();
    HeadlessOwner headed(info_);
    EXPECT_EQ(check(headed, "/headed.html"), kVerdictMatched);
    ASSERT_EQ(info_.p3pHeaders().size(), 1u);
    EXPECT_EQ(info_.p3pHeaders()[0].value, "policyref=\"/refs.xml\", CP=\"NOI\"");
    EXPECT_EQ(info_.mainResult().compactPolicy, "NOI");
}

TEST_F(PageCheckTest, Discovery_APostedPageIsNotProbedAndWithoutPolicyIsUnknown) {
    serve("/form.html", "<p>thanks</p>", "policyref=\"/refs.xml\"");
    serve("/refs.xml", kReferences);
    loopback_.start();
    HeadlessOwner owner(info_);
    EXPECT_EQ(check(owner, "/form.html", true), kVerdictUnknown);
    EXPECT_EQ(requests("/form.html"), 1);  // the page's own load, no probe
    EXPECT_EQ(requests("/refs.xml"), 0);
    EXPECT_EQ(owner.sounds(), std::vector<std::string>{"no policy"});
}

TEST_F(PageCheckTest, Discovery_AMalformedWellKnownLocationIsNoAnswer) {
    serve("/w3c/p3p.xml", "<html><body>Not found</p>");
    serve("/refs.xml", kReferences);
    serve("/linked.html", "<link rel=P3Pv1 href=/refs.xml>");
    serve("/broken.html", "<link rel=P3Pv1 href=/w3c/p3p.xml>");
    loopback_.start();
    HeadlessOwner linked(info_);
    EXPECT_EQ(check(linked, "/linked.html"), kVerdictMatched);
    // A reference the page names itself keeps its parse error.
    store_.clear();
    cache_.clearCache();
    HeadlessOwner broken(info_);
    EXPECT_EQ(check(broken, "/broken.html"), kVerdictUnknown);
    EXPECT_TRUE(broken.sounds().empty());
}

// Records the verdict sounds like the headless owner, with the user's choice for cached policies.
class SoundOwner : public HeadlessOwner {
  public:
    SoundOwner(P3PMatchInfo& info, bool forCached) : HeadlessOwner(info), forCached_(forCached) {}
    bool soundsForCachedPolicies() const override { return forCached_; }

  private:
    bool forCached_;
};

TEST_F(PageCheckTest, Sound_PlaysForACachedPolicyOnlyWhenAskedTo) {
    serve("/w3c/p3p.xml", kReferences);
    serve("/index.html", "<p>hello</p>");
    loopback_.start();
    SoundOwner fresh(info_, false);
    EXPECT_EQ(check(fresh, "/index.html"), kVerdictMatched);
    EXPECT_EQ(fresh.sounds(), std::vector<std::string>{"match"});
    SoundOwner cached(info_, false);
    EXPECT_EQ(check(cached, "/index.html"), kVerdictMatched);
    EXPECT_TRUE(cached.sounds().empty());
    SoundOwner asked(info_, true);
    EXPECT_EQ(check(asked, "/index.html"), kVerdictMatched);
    EXPECT_EQ(asked.sounds(), std::vector<std::string>{"match"});
    EXPECT_EQ(requests("/w3c/policy.xml"), 1);
}

TEST_F(PageCheckTest, Embedded_AFrameWithoutPolicyMakesThePagePartlyMatched) {
    serve("/w3c/p3p.xml", kReferences);
    serve("/index.html", "<iframe src='http://127.0.0.1:1/ad.html'></iframe>");
    loopback_.start();
    HeadlessOwner owner(info_);
    EXPECT_EQ(check(owner, "/index.html"), kVerdictPartlyMatched);
    EXPECT_EQ(owner.sounds(), std::vector<std::string>{"match"});
}

TEST_F(PageCheckTest, Stop_ACancelledCheckShowsUnknown) {
    serve("/w3c/p3p.xml", kReferences);
    serve("/index.html", "<img src=/logo.png>");
    loopback_.start();
    HeadlessOwner owner(info_);
    owner.loadPage(Url(loopback_.url("/index.html")), false);
    info_.setRunning(false);
    EXPECT_EQ(checkPage(owner, Url(loopback_.url("/index.html")), ""), 0);
    EXPECT_EQ(owner.verdict(), kVerdictUnknown);
    EXPECT_TRUE(owner.sounds().empty());
    EXPECT_EQ(checkPage(owner, Url(), ""), 0);
}

}  // namespace
}  // namespace perchlight
