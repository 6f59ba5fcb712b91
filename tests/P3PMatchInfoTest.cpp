#include "retrieval/P3PMatchInfo.h"

#include <gtest/gtest.h>

#include <map>

#include "TestSupport.h"
#include "core/P3PEvaluator.h"
#include "retrieval/PolicyCache.h"
#include "retrieval/ReferenceStore.h"
#include "util/Error.h"

namespace perchlight {
namespace {

std::string referenceFile(const std::string& about) {
    return "<META><POLICY-REFERENCES><POLICY-REF about='" + about +
           "'><INCLUDE>/*</INCLUDE></POLICY-REF></POLICY-REFERENCES></META>";
}

// Sites on a canned web, a cache over a temporary directory, the High rule set.
class P3PMatchInfoTest : public ::testing::Test {
  protected:
    P3PMatchInfoTest()
        : home_({"BaseDataschema-std.xml"}),
          cache_((home_.path() / "cache").string(), nullptr,
                 [this](const std::string& url, std::string&) -> std::optional<std::string> {
                     ++fetches_[url];
                     const auto found = web_.find(url);
                     return found == web_.end() ? std::nullopt
                                                : std::optional<std::string>(found->second);
                 }),
          store_(&cache_),
          info_(store_, cache_) {
        cache_.setEvaluator(&evaluator_);
        cache_.setRuleSetReader([](std::string& ruleSet) {
            ruleSet = test::readFile(test::dataDir() / "appel-high.xml");
            return true;
        });
        publish("http://good.example", "shop-basic.xml", "#basic");
        publish("http://bad.example", "marketing.xml", "#retail");
        publish("http://draft.example", "test-policy.xml", "");
    }

    void publish(const std::string& site, const std::string& example, const std::string& name) {
        web_[site + "/w3c/p3p.xml"] = referenceFile("/w3c/policy.xml" + name);
        web_[site + "/w3c/policy.xml"] = test::readFile(test::dataDir() / "examples" / example);
    }

    int checkMainPage(const std::string& page) {
        const Url url(page);
        store_.loadReferenceFile(wellKnownLocation(url), url);
        return info_.matchPage(url, store_.lookupPolicy(url, "GET"));
    }

    test::ModuleHome home_;
    std::map<std::string, std::string> web_;
    std::map<std::string, int> fetches_;
    PolicyCache cache_;
    // Evaluates with the shipped base data schema, as the agent's services do.
    const P3PEvaluator evaluator_{&cache_, test::shippedSchema()};
    ReferenceStore store_;
    P3PMatchInfo info_;
};

TEST_F(P3PMatchInfoTest, Verdict_FollowsThePagesOwnPolicyFirst) {
    EXPECT_EQ(checkMainPage("http://good.example/index.html"), 0);
    EXPECT_EQ(info_.overallVerdict(), kVerdictMatched);
    EXPECT_EQ(checkMainPage("http://bad.example/"), 0);
    info_.addEmbedded(Url("http://good.example/logo.png"), "Image");
    info_.checkEmbedded();
    EXPECT_EQ(info_.overallVerdict(), kVerdictUnmatched);
    EXPECT_EQ(checkMainPage("http://draft.example/"), -1);
    EXPECT_EQ(info_.overallVerdict(), kVerdictUnknown);
    EXPECT_EQ(info_.matchPage(Url("http://nowhere.example/"), Url()), -1);
    EXPECT_EQ(info_.overallVerdict(), kVerdictUnknown);
}

TEST_F(P3PMatchInfoTest, Embedded_ItemsWithoutAGoodPolicyMakeThePagePartlyMatched) {
    ASSERT_EQ(checkMainPage("http://good.example/"), 0);
    info_.addEmbedded(Url("http://good.example/a.png"), "Image");
    info_.addEmbedded(Url("http://good.example/b.png"), "Image");
    info_.addEmbedded(Url("http://good.example/a.png"), "Embed");
    info_.checkEmbedded();
    EXPECT_EQ(info_.overallVerdict(), kVerdictMatched);
    EXPECT_EQ(info_.contentType(Url("http://good.example/a.png")), "Image");
    EXPECT_EQ(info_.embeddedState(Url("http://good.example/b.png")), kStateNoConflict);
    EXPECT_EQ(fetches_["http://good.example/w3c/p3p.xml"], 1);

    info_.addEmbedded(Url("http://nopolicy.example/frame.html"), "Frame/IFrame");
    info_.checkEmbedded();
    EXPECT_EQ(info_.overallVerdict(), kVerdictPartlyMatched);
    EXPECT_EQ(info_.embeddedState(Url("http://nopolicy.example/frame.html")), kStateNotEvaluated);
    EXPECT_TRUE(info_.embeddedPolicyUrl(Url("http://nopolicy.example/frame.html")).empty());
}

TEST_F(P3PMatchInfoTest, Embedded_ANonMatchingItemLowersOnlyToPartlyMatched) {
    ASSERT_EQ(checkMainPage("http://good.example/"), 0);
    info_.addEmbedded(Url("http://bad.example/ad.gif"), "Image");
    info_.addEmbedded(Url("file:///etc/hosts"), "Frame/IFrame");
    web_["http://soft404.example/w3c/p3p.xml"] = "<html><body>Not found";
    info_.addEmbedded(Url("http://soft404.example/pixel.gif"), "Image");
    info_.checkEmbedded();
    EXPECT_EQ(info_.overallVerdict(), kVerdictPartlyMatched);
    EXPECT_EQ(info_.embeddedState(Url("http://bad.example/ad.gif")), kStateConflict);
    EXPECT_EQ(info_.embeddedPolicyUrl(Url("http://bad.example/ad.gif")).str(),
              "http://bad.example/w3c/policy.xml#retail");
    EXPECT_TRUE(info_.embeddedPolicyUrl(Url("http://soft404.example/pixel.gif")).empty());
}

TEST_F(P3PMatchInfoTest, Stop_ACancelledCheckStopsAndLeavesNothingBehind) {
    ASSERT_EQ(checkMainPage("http://good.example/"), 0);
    info_.addEmbedded(Url("http://good.example/a.png"), "Image");
    info_.setRunning(false);
    try {
        info_.checkEmbedded();
        ADD_FAILURE() << "no STOP";
    } catch (const Error& error) {
        EXPECT_EQ(error.message(), "STOP");
        EXPECT_EQ(error.unit(), "P3PMatchInfo");
    }
    EXPECT_TRUE(info_.embeddedUrls().empty());
    EXPECT_TRUE(info_.mainPolicyUrl().empty());
}

TEST_F(P3PMatchInfoTest, Reported_HeadersComeFirstOnceAndWithinTheLimit) {
    const Url page("http://good.example/");
    const Url item("http://cdn.example/a.png");
    // The check's own probe read the page's header first.
    const std::string own = "HTTP/1.1 200 OK\r\nP3P: CP=\"NOI CUR\"\r\n\r\n";
    info_.checkByHeader(page, &own);
    info_.noteReportedP3PHeader(page, "CP=\"NOI CUR\"");  // the same header, as the browser saw it
    info_.noteReportedP3PHeader(item, "CP=\"NOI ADM\"");
    info_.noteReportedP3PHeader(item, "CP=\"NOI ADM\"");
    std::vector<SeenP3PHeader> seen = info_.p3pHeaders();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].url, page);
    EXPECT_EQ(seen[1].url, item);
    EXPECT_EQ(seen[1].value, "CP=\"NOI ADM\"");
    // A header the browser did not see stays, after the reported ones.
    const std::string other = "HTTP/1.1 200 OK\r\nP3P: CP=\"NOI TEL\"\r\n\r\n";
    info_.checkByHeader(page, &other);
    info_.noteReportedP3PHeader(Url("http://cdn.example/b.png"), "CP=\"ALL\"");
    seen = info_.p3pHeaders();
    ASSERT_EQ(seen.size(), 4u);
    EXPECT_EQ(seen[2].value, "CP=\"ALL\"");
    EXPECT_EQ(seen[3].value, "CP=\"NOI TEL\"");
    for (std::size_t i = 0; i < 2 * kMaxSeenP3PHeaders; ++i) {
        info_.noteReportedP3PHeader(Url("http://cdn.example/" + std::to_string(i)), "CP=\"X\"");
    }
    EXPECT_EQ(info_.p3pHeaders().size(), kMaxSeenP3PHeaders);
    info_.reset();
    EXPECT_TRUE(info_.p3pHeaders().empty());
}

// A compact policy answers for the policy that covers its response: the page's for the page, a
// frame's or item's own for it; a response the check matched nothing to has none.
TEST_F(P3PMatchInfoTest, Covering_EachResponseHasItsOwnPolicysResult) {
    const Url page("http://good.example/");
    const Url frame("http://bad.example/frame.html");
    const Url unknown("http://nopolicy.example/frame.html");
    EXPECT_FALSE(info_.coveringResult(page)) << "nothing matched yet";
    ASSERT_EQ(checkMainPage(page.str()), 0);
    info_.addEmbedded(frame, "Frame/IFrame");
    info_.addEmbedded(unknown, "Frame/IFrame");
    info_.checkEmbedded();
    const std::optional<MatchResult> own = info_.coveringResult(page);
    ASSERT_TRUE(own);
    EXPECT_EQ(own->policyUrl.str(), "http://good.example/w3c/policy.xml");
    const std::optional<MatchResult> framed = info_.coveringResult(frame);
    ASSERT_TRUE(framed);
    EXPECT_EQ(framed->state, kStateConflict);
    EXPECT_EQ(framed->impliedCompactTokens, info_.embeddedResult(frame)->impliedCompactTokens);
    EXPECT_NE(framed->impliedCompactTokens, own->impliedCompactTokens);
    EXPECT_FALSE(info_.coveringResult(unknown));
    EXPECT_FALSE(info_.coveringResult(Url("http://elsewhere.example/")));
    // The next check of the same window starts with nothing matched.
    info_.reset();
    EXPECT_FALSE(info_.coveringResult(page));
}

TEST(WellKnownLocation, IsTheSiteBaseAndTheFixedPath) {
    EXPECT_EQ(wellKnownLocation(Url("https://shop.example:8443/a/b?c")).str(),
              "https://shop.example:8443/w3c/p3p.xml");
}

}  // namespace
}  // namespace perchlight
