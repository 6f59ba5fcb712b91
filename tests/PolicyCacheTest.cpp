#include "retrieval/PolicyCache.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <map>

#include "LoopbackServer.h"
#include "TestSupport.h"
#include "core/P3PEvaluator.h"
#include "retrieval/CheckDocuments.h"
#include "retrieval/Globals.h"
#include "retrieval/GlobalsDetail.h"
#include "retrieval/HttpClient.h"
#include "util/Error.h"

namespace perchlight {
namespace {

namespace fs = std::filesystem;

const std::string kPolicyUrl = "http://shop.example/w3c/policy.xml";

std::string policyWithExpiry(const std::string& expiry) {
    return "<POLICIES xmlns='http://www.w3.org/2002/01/P3Pv1'>" + expiry +
           "<POLICY name='p' discuri='http://shop.example/privacy.html'>"
           "<ENTITY><DATA-GROUP><DATA ref='#business.name'>Shop</DATA></DATA-GROUP></ENTITY>"
           "<ACCESS><nonident/></ACCESS><STATEMENT><PURPOSE><current/></PURPOSE>"
           "<RECIPIENT><ours/></RECIPIENT><RETENTION><no-retention/></RETENTION>"
           "<DATA-GROUP><DATA ref='#dynamic.clickstream'/></DATA-GROUP></STATEMENT>"
           "</POLICY></POLICIES>";
}

// A cache over a temporary directory with a settable clock and a canned web.
class PolicyCacheTest : public ::testing::Test {
  protected:
    PolicyCache newCache() {
        return PolicyCache(
            (dir_ / "cache").string(), [this] { return now_; },
            [this](const std::string& url, std::string& headers) -> std::optional<std::string> {
                ++fetches_[url];
                headers = "HTTP/1.1 200 OK\r\nP3P: policyref=\"/w3c/p3p.xml\"\r\n\r\n";
                const auto found = web_.find(url);
                if (found == web_.end()) {
                    return std::nullopt;
                }
                return found->second;
            });
    }

    test::TempDir dir_;
    std::int64_t now_ = 1'800'000'000;
    std::map<std::string, std::string> web_;
    std::map<std::string, int> fetches_;
};

TEST_F(PolicyCacheTest, Lifetime_MaxAgeServesFromTheCacheUntilItRunsOut) {
    web_[kPolicyUrl] = policyWithExpiry("<EXPIRY max-age='3600'/>");
    PolicyCache cache = newCache();
    EXPECT_TRUE(cache.getDocument(kPolicyUrl + "#p"));
    now_ += 3600;
    EXPECT_TRUE(cache.getDocument(kPolicyUrl));
    EXPECT_EQ(fetches_[kPolicyUrl], 1);
    now_ += 1;
    EXPECT_TRUE(cache.getDocument(kPolicyUrl));
    EXPECT_EQ(fetches_[kPolicyUrl], 2);
}

TEST_F(PolicyCacheTest, Lifetime_NoExpiryAndFailuresLastOneDay) {
    web_[kPolicyUrl] = policyWithExpiry("");
    PolicyCache cache = newCache();
    HttpHeaders headers;
    EXPECT_TRUE(cache.getDocument(kPolicyUrl, &headers));
    EXPECT_EQ(headers.find("P3P")->second, "policyref=\"/w3c/p3p.xml\"");
    EXPECT_FALSE(cache.getDocument("http://nothing.example/w3c/p3p.xml"));
    EXPECT_EQ(cache.cachedFilePath("http://nothing.example/w3c/p3p.xml"), "");
    now_ += PolicyCache::kDefaultLifetime;
    EXPECT_TRUE(cache.getDocument(kPolicyUrl));
    EXPECT_FALSE(cache.getDocument("http://nothing.example/w3c/p3p.xml"));
    EXPECT_EQ(fetches_[kPolicyUrl] + fetches_["http://nothing.example/w3c/p3p.xml"], 2);
    now_ += 1;
    EXPECT_FALSE(cache.isPolicyCached(kPolicyUrl));
}

TEST_F(PolicyCacheTest, Lifetime_PastDateIsNotCachedAndBadDocumentsRaise) {
    PolicyCache cache = newCache();
    web_[kPolicyUrl] = policyWithExpiry("<EXPIRY date='Sun, 06 Nov 1994 08:49:37 GMT'/>");
    EXPECT_FALSE(cache.getDocument(kPolicyUrl));
    web_[kPolicyUrl] = policyWithExpiry("<EXPIRY date='soon'/>");
    EXPECT_THROW(cache.getDocument(kPolicyUrl), Error);
    web_[kPolicyUrl] = "<html>error page";
    EXPECT_THROW(cache.getDocument(kPolicyUrl), Error);
    EXPECT_FALSE(cache.isPolicyCached(kPolicyUrl));
    EXPECT_EQ(fetches_[kPolicyUrl], 3);
}

TEST_F(PolicyCacheTest, Index_SurvivesARestartAndKeepsAwkwardUrls) {
    const std::string awkward = "http://shop.example/p3p?a=1&b=\"2\"<3>";
    web_[awkward] = policyWithExpiry("");
    {
        PolicyCache cache = newCache();
        ASSERT_TRUE(cache.getDocument(awkward));
        cache.writeCacheIndex();
    }
    PolicyCache restarted = newCache();
    restarted.loadCacheIndex();
    EXPECT_TRUE(restarted.isPolicyCached(awkward));
    EXPECT_EQ(restarted.getDocument(awkward), web_[awkward]);
    EXPECT_EQ(fetches_[awkward], 1);
}

TEST_F(PolicyCacheTest, Index_MergeKeepsOtherProcessesEntriesAndDropsTheLosersFile) {
    web_[kPolicyUrl] = policyWithExpiry("");
    web_["http://other.example/p.xml"] = policyWithExpiry("");
    PolicyCache first = newCache();
    PolicyCache second = newCache();
    ASSERT_TRUE(first.getDocument(kPolicyUrl));
    ASSERT_TRUE(second.getDocument(kPolicyUrl));
    ASSERT_TRUE(second.getDocument("http://other.example/p.xml"));
    const std::string secondsFile = second.cachedFilePath(kPolicyUrl);
    second.writeCacheIndex();
    first.writeCacheIndex();
    EXPECT_FALSE(fs::exists(secondsFile));
    PolicyCache reader = newCache();
    reader.loadCacheIndex();
    EXPECT_EQ(reader.cachedFilePath(kPolicyUrl), first.cachedFilePath(kPolicyUrl));
    EXPECT_TRUE(reader.isPolicyCached("http://other.example/p.xml"));
}

TEST_F(PolicyCacheTest, Index_EntriesWithMissingOrForeignFilesAreDropped) {
    fs::create_directories(dir_ / "cache");
    test::writeFile(dir_ / "victim", "keep me");
    test::writeFile(dir_ / "cache" / "temp7", "no expiry");
    test::writeFile(dir_ / "cache" / "cacheindex.xml",
                    "<POLICY-CACHE>"
                    "<CACHE-ENTRY URL='http://a.example/' FILENAME='temp99' EXPIRY='1900000000'/>"
                    "<CACHE-ENTRY URL='http://b.example/' FILENAME='../victim' EXPIRY='1'/>"
                    "<CACHE-ENTRY URL='http://c.example/' FILENAME='temp7'/>"
                    "<CACHE-ENTRY URL='http://d.example/' FILENAME='' EXPIRY='1900000000'/>"
                    "</POLICY-CACHE>");
    PolicyCache cache = newCache();
    cache.loadCacheIndex();
    EXPECT_FALSE(cache.isPolicyCached("http://a.example/"));
    EXPECT_FALSE(cache.isPolicyCached("http://b.example/"));
    EXPECT_FALSE(fs::exists(dir_ / "cache" / "temp7"));
    EXPECT_TRUE(fs::exists(dir_ / "victim"));
    EXPECT_TRUE(cache.isPolicyCached("http://d.example/"));
}

// Another process takes the free name between its choice and the file's creation.
TEST_F(PolicyCacheTest, File_IsCreatedExclusivelyUnderTheNextFreeName) {
    PolicyCache cache = newCache();
    bool raced = false;
    cache.setTempNamer([&](const std::string& directory) {
        std::string name = uniqueTempName(directory);
        if (!std::exchange(raced, true)) {
            test::writeFile(fs::path(directory) / name, "theirs");
        }
        return name;
    });
    setTempNameCounterForTesting(41);
    ASSERT_TRUE(cache.storeDocument(kPolicyUrl, policyWithExpiry(""), 0));
    EXPECT_EQ(fs::path(cache.cachedFilePath(kPolicyUrl)).filename(), "temp43");
    EXPECT_EQ(test::readFile(dir_ / "cache" / "temp42"), "theirs");
}

// Both files were deleted and their names are free on disk, but not to this process: one is still
// held by an entry, the other is named by the index another process wrote.
TEST_F(PolicyCacheTest, File_NameHeldForAnotherUrlIsNeverShared) {
    PolicyCache mine = newCache();
    PolicyCache theirs = newCache();
    setTempNameCounterForTesting(41);
    ASSERT_TRUE(mine.storeDocument("http://gone.example/", "<POLICY/>", 0));
    ASSERT_TRUE(theirs.storeDocument("http://theirs.example/", "<POLICIES/>", 0));
    theirs.writeCacheIndex();
    fs::remove(dir_ / "cache" / "temp42");
    fs::remove(dir_ / "cache" / "temp43");
    setTempNameCounterForTesting(41);
    ASSERT_TRUE(mine.storeDocument(kPolicyUrl, "<POLICY-REFERENCES/>", 0));
    EXPECT_EQ(fs::path(mine.cachedFilePath(kPolicyUrl)).filename(), "temp43");
    mine.loadCacheIndex();
    EXPECT_FALSE(mine.isPolicyCached("http://theirs.example/"));
    EXPECT_FALSE(mine.isPolicyCached("http://gone.example/"));
    EXPECT_EQ(mine.readCachedDocument(kPolicyUrl), "<POLICY-REFERENCES/>");
}

// Both processes start from the same name counter and store the same URLs at the same time.
TEST_F(PolicyCacheTest, Index_TwoProcessesCachingTheSameUrlsKeepTheirOwnFiles) {
    constexpr int kUrls = 40;
    const auto url = [](int i) { return "http://site" + std::to_string(i) + ".example/p3p.xml"; };
    const auto text = [](const std::string& who, int i) {
        return "<POLICIES name='" + who + std::to_string(i) + "'/>";
    };
    const auto cacheAll = [&](PolicyCache& cache, const std::string& who) {
        bool own = cache.storeDocument("http://" + who + ".example/", text(who, 0), 0);
        for (int i = 0; i < kUrls; ++i) {
            own = cache.storeDocument(url(i), text(who, i), 0) && own;
        }
        for (int i = 0; i < kUrls; ++i) {
            own = cache.readCachedDocument(url(i)) == text(who, i) && own;
        }
        return own;
    };
    setTempNameCounterForTesting(0);
    int start[2];
    ASSERT_EQ(pipe(start), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        char go = 0;
        const bool started = read(start[0], &go, 1) == 1;
        PolicyCache cache = newCache();
        const bool own = cacheAll(cache, "child");
        cache.writeCacheIndex();
        _exit(started && own ? 0 : 1);
    }
    ASSERT_EQ(write(start[1], "g", 1), 1);
    PolicyCache cache = newCache();
    const bool own = cacheAll(cache, "parent");
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    close(start[0]);
    close(start[1]);
    EXPECT_TRUE(own) << "a file of this process was overwritten";
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the child's files were not its";
    cache.writeCacheIndex();
    PolicyCache reader = newCache();
    reader.loadCacheIndex();
    EXPECT_TRUE(reader.isPolicyCached("http://child.example/"));
    EXPECT_TRUE(reader.isPolicyCached("http://parent.example/"));
    for (int i = 0; i < kUrls; ++i) {
        EXPECT_EQ(reader.readCachedDocument(url(i)), text("parent", i)) << i;
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_ / "cache"), fs::directory_iterator()),
              kUrls + 4)
        << "the child's files of shared URLs are deleted, the index and its lock file stay";
}

TEST_F(PolicyCacheTest, Bounds_OversizedFilesAndUrlsReadAsMissing) {
    PolicyCache cache = newCache();
    ASSERT_TRUE(cache.storeDocument(kPolicyUrl, "<POLICY/>", 0));
    test::writeFile(cache.cachedFilePath(kPolicyUrl),
                    std::string(HttpClient::kMaxBodyBytes + 1, ' '));
    EXPECT_FALSE(cache.readCachedDocument(kPolicyUrl));
    EXPECT_FALSE(cache.isPolicyCached(kPolicyUrl));
    const std::string entry =
        "<CACHE-ENTRY URL='http://a.example/' FILENAME='' EXPIRY='1900000000'/>";
    const std::string longUrl(PolicyCache::kMaxIndexUrlBytes + 1, 'u');
    test::writeFile(dir_ / "cache" / "cacheindex.xml",
                    "<POLICY-CACHE><CACHE-ENTRY URL='" + longUrl +
                        "' FILENAME='' EXPIRY='1900000000'/>" + entry + "</POLICY-CACHE>");
    cache.loadCacheIndex();
    EXPECT_FALSE(cache.isPolicyCached(longUrl));
    EXPECT_TRUE(cache.isPolicyCached("http://a.example/"));
    PolicyCache other = newCache();
    test::writeFile(dir_ / "cache" / "cacheindex.xml",
                    "<POLICY-CACHE>" + entry + std::string(PolicyCache::kMaxIndexFileBytes, ' ') +
                        "</POLICY-CACHE>");
    other.loadCacheIndex();
    EXPECT_FALSE(other.isPolicyCached("http://a.example/"));
}

TEST_F(PolicyCacheTest, Clear_RemovesTheDirectoryAndTellsTheListener) {
    web_[kPolicyUrl] = policyWithExpiry("");
    PolicyCache cache = newCache();
    bool told = false;
    cache.setClearListener([&] { told = true; });
    ASSERT_TRUE(cache.getDocument(kPolicyUrl));
    cache.clearCache();
    EXPECT_TRUE(told);
    EXPECT_FALSE(fs::exists(dir_ / "cache"));
    EXPECT_TRUE(cache.getDocument(kPolicyUrl));
    EXPECT_TRUE(fs::exists(dir_ / "cache"));
}

TEST_F(PolicyCacheTest, Evaluate_ReportsEachWayOfFailingAndThenTheVerdict) {
    PolicyCache cache = newCache();
    const P3PEvaluator evaluator(&cache, test::shippedSchema());
    cache.setEvaluator(&evaluator);
    MatchResult result;
    EXPECT_EQ(cache.evaluatePolicy("", result), 0);
    EXPECT_EQ(result.state, kStateNotEvaluated);
    EXPECT_EQ(cache.evaluatePolicy(kPolicyUrl + "#p", result), -1);
    web_["http://shop.example/w3c/other.xml"] = policyWithExpiry("");
    EXPECT_EQ(cache.evaluatePolicy("http://shop.example/w3c/other.xml#p", result), -2);
    cache.setRuleSetReader([](std::string& ruleSet) {
        ruleSet = test::readFile(test::dataDir() / "appel-high.xml");
        return true;
    });
    EXPECT_EQ(cache.evaluatePolicy("http://shop.example/w3c/other.xml#p", result), 0);
    EXPECT_EQ(result.state, kStateNoConflict);
    EXPECT_EQ(result.policyUrl.str(), "http://shop.example/w3c/other.xml");
}

// A check reads what it fetched from memory, as the cache answers for it (without headers), not
// from the cache's file; once the check is over the cache looks at its file again.
TEST_F(PolicyCacheTest, Check_ReadsWhatItFetchedFromMemory) {
    web_[kPolicyUrl] = policyWithExpiry("");
    PolicyCache cache = newCache();
    {
        CheckDocuments documents;
        const CheckDocuments::Scope scope(&documents);
        HttpHeaders headers;
        EXPECT_EQ(cache.getDocument(kPolicyUrl, &headers), web_[kPolicyUrl]);
        EXPECT_FALSE(headers.empty());
        fs::remove(cache.cachedFilePath(kPolicyUrl));
        HttpHeaders again;
        EXPECT_EQ(cache.getDocument(kPolicyUrl, &again), web_[kPolicyUrl]);
        EXPECT_TRUE(again.empty());
        EXPECT_EQ(fetches_[kPolicyUrl], 1);
    }
    EXPECT_EQ(cache.getDocument(kPolicyUrl), web_[kPolicyUrl]);
    EXPECT_EQ(fetches_[kPolicyUrl], 2);
}

TEST(PolicyCacheLoopback, FetchesThroughHttpOnce) {
    test::LoopbackServer loopback;
    int requests = 0;
    loopback.server().Get("/w3c/p3p.xml", [&](const httplib::Request&, httplib::Response& r) {
        ++requests;
        r.set_content("<META><POLICY-REFERENCES/></META>", "text/xml");
    });
    loopback.start();
    test::TempDir dir;
    PolicyCache cache((dir / "cache").string());
    EXPECT_TRUE(cache.getDocument(loopback.url("/w3c/p3p.xml")));
    EXPECT_TRUE(cache.getDocument(loopback.url("/w3c/p3p.xml")));
    EXPECT_EQ(requests, 1);
}

// Many sites answer the well-known location with an HTML error page: no policy, asked again only
// after a day. An HTML page sent as a success stays an error.
TEST(PolicyCacheLoopback, ErrorPageIsNoDocumentRememberedForADay) {
    test::LoopbackServer loopback;
    int requests = 0;
    loopback.server().Get("/w3c/p3p.xml", [&](const httplib::Request&, httplib::Response& r) {
        ++requests;
        r.status = 404;
        r.set_content("<html><body>Not found", "text/html");
    });
    loopback.server().Get("/page", [&](const httplib::Request&, httplib::Response& r) {
        r.set_content("<html><body>Not found", "text/html");
    });
    loopback.start();
    test::TempDir dir;
    std::int64_t now = 1'800'000'000;
    PolicyCache cache((dir / "cache").string(), [&] { return now; });
    HttpHeaders headers;
    EXPECT_FALSE(cache.getDocument(loopback.url("/w3c/p3p.xml"), &headers));
    EXPECT_EQ(headers.find("Content-Type")->second, "text/html");
    now += PolicyCache::kDefaultLifetime;
    EXPECT_FALSE(cache.getDocument(loopback.url("/w3c/p3p.xml")));
    EXPECT_EQ(requests, 1);
    now += 1;
    EXPECT_FALSE(cache.getDocument(loopback.url("/w3c/p3p.xml")));
    EXPECT_EQ(requests, 2);
    EXPECT_THROW(cache.getDocument(loopback.url("/page")), Error);
}

}  // namespace
}  // namespace perchlight
