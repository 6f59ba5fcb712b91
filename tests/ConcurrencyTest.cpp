// Reliability under load: many checks at once on one process-wide cache, while the cache is
// cleared and checks are cancelled, and two processes saving the shared files at once.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <set>
#include <thread>
#include <vector>

#include "LoopbackServer.h"
#include "TestSupport.h"
#include "browser/HeadlessOwner.h"
#include "core/P3PEvaluator.h"
#include "prefs/P3PPreferences.h"
#include "retrieval/HttpClient.h"
#include "retrieval/PageCheck.h"
#include "retrieval/PolicyCache.h"
#include "retrieval/ReferenceStore.h"

namespace perchlight {
namespace {

using namespace std::chrono_literals;

// Only a failure detector: a healthy run ends in a small fraction of it, sanitizers included.
constexpr auto kDeadline = 300s;

// One reference file for the whole server: each area of it stands for a site of its own kind.
const char* kReferences =
    "<META><POLICY-REFERENCES>"
    "<POLICY-REF about='/w3c/match.xml#basic'><INCLUDE>/match/*</INCLUDE>"
    "<INCLUDE>/partly/*</INCLUDE></POLICY-REF>"
    "<POLICY-REF about='/w3c/conflict.xml#retail'><INCLUDE>/conflict/*</INCLUDE></POLICY-REF>"
    "</POLICY-REFERENCES></META>";

struct Site {
    const char* page;
    const char* html;
    int verdict;  // when the check runs undisturbed
};

const std::array<Site, 4> kSites = {{
    {"/match/index.html", "<p>welcome</p>", kVerdictMatched},
    {"/conflict/index.html", "<p>offers</p>", kVerdictUnmatched},
    {"/none/index.html", "<p>no policy</p>", kVerdictUnknown},
    {"/partly/index.html", "<img src=/none/logo.png>", kVerdictPartlyMatched},
}};

struct Outcome {
    std::size_t site;
    int verdict;
};

// Aborts, with the reason, instead of letting a deadlocked check hang the suite.
void awaitOrAbort(const std::atomic<int>& finished, int count) {
    const auto deadline = std::chrono::steady_clock::now() + kDeadline;
    while (finished < count) {
        if (std::chrono::steady_clock::now() > deadline) {
            std::fprintf(stderr, "ConcurrencyTest: %d of %d check threads never ended\n",
                         count - finished.load(), count);
            std::abort();
        }
        std::this_thread::sleep_for(10ms);
    }
}

// Eight windows, each with its own check state and owner, sharing one cache and reference store
// as the windows of one browser process do.
class ConcurrencyTest : public ::testing::Test {
  protected:
    static constexpr int kOwners = 8;

    ConcurrencyTest()
        : home_({"BaseDataschema-std.xml"}),
          ruleSet_(test::readFile(test::dataDir() / "appel-high.xml")),
          cache_((home_.path() / "cache").string()),
          store_(&cache_) {
        cache_.setEvaluator(&evaluator_);
        cache_.setRuleSetReader([this](std::string& ruleSet) {
            ruleSet = ruleSet_;
            return true;
        });
        cache_.setClearListener([this] { store_.clear(); });
        serve("/w3c/p3p.xml", kReferences);
        serve("/w3c/match.xml", test::readFile(test::dataDir() / "examples" / "shop-basic.xml"));
        serve("/w3c/conflict.xml", test::readFile(test::dataDir() / "examples" / "marketing.xml"));
        for (const Site& site : kSites) {
            serve(site.page, site.html);
        }
        loopback_.start();
        for (int i = 0; i < kOwners; ++i) {
            infos_.push_back(std::make_unique<P3PMatchInfo>(store_, cache_));
            owners_.push_back(std::make_unique<HeadlessOwner>(*infos_.back()));
        }
    }

    void serve(const std::string& path, const std::string& body) {
        loopback_.server().Get(path, [body](const httplib::Request&, httplib::Response& r) {
            r.set_content(body, "text/xml");
        });
    }

    // Loads the page and checks it on the calling thread, as a check thread of its window.
    int check(int owner, const Site& site) {
        const Url page(loopback_.url(site.page));
        owners_[owner]->loadPage(page, false);
        infos_[owner]->setRunning(true);
        runCheckThread(*owners_[owner], page, "");
        return owners_[owner]->verdict();
    }

    // Every owner checks every site in turn, all owners at once; their outcomes in order.
    std::vector<std::vector<Outcome>> checkAll(int rounds) {
        std::vector<std::vector<Outcome>> outcomes(kOwners);
        std::atomic<int> finished{0};
        std::vector<std::thread> threads;
        for (int owner = 0; owner < kOwners; ++owner) {
            threads.emplace_back([&, owner] {
                for (int round = 0; round < rounds; ++round) {
                    const std::size_t site = (owner + round) % kSites.size();
                    outcomes[owner].push_back({site, check(owner, kSites[site])});
                }
                ++finished;
            });
        }
        awaitOrAbort(finished, kOwners);
        for (std::thread& thread : threads) {
            thread.join();
        }
        return outcomes;
    }

    test::ModuleHome home_;
    std::string ruleSet_;
    test::LoopbackServer loopback_;
    PolicyCache cache_;
    // Evaluates with the shipped base data schema, as the agent's services do.
    const P3PEvaluator evaluator_{&cache_, test::shippedSchema()};
    ReferenceStore store_;
    std::vector<std::unique_ptr<P3PMatchInfo>> infos_;
    std::vector<std::unique_ptr<HeadlessOwner>> owners_;
};

// A check disturbed by a cleared cache or a cancellation may come out unknown, never as another
// site's colour; once the disturbance ends, every verdict is exact again.
TEST_F(ConcurrencyTest, Checks_ClearedAndCancelledAtRandomKeepTheirVerdicts) {
    std::atomic<bool> stormOver{false};
    std::thread clearer([&] {
        std::mt19937 random(20261207);
        while (!stormOver) {
            cache_.clearCache();
            std::this_thread::sleep_for(std::chrono::microseconds(random() % 3000));
        }
    });
    std::thread canceller([&] {
        std::mt19937 random(7);
        while (!stormOver) {
            const int owner = static_cast<int>(random() % kOwners);
            infos_[owner]->setRunning(false);
            owners_[owner]->checkMonitor().broadcast();
            std::this_thread::sleep_for(std::chrono::microseconds(random() % 5000));
        }
    });
    const auto disturbed = checkAll(24);
    stormOver = true;
    clearer.join();
    canceller.join();

    for (const auto& outcomes : disturbed) {
        for (const Outcome& outcome : outcomes) {
            const std::set<int> allowed = {kSites[outcome.site].verdict, kVerdictUnknown};
            EXPECT_TRUE(allowed.contains(outcome.verdict))
                << kSites[outcome.site].page << " showed " << outcome.verdict;
        }
    }
    for (const auto& outcomes : checkAll(static_cast<int>(kSites.size()))) {
        for (const Outcome& outcome : outcomes) {
            EXPECT_EQ(outcome.verdict, kSites[outcome.site].verdict) << kSites[outcome.site].page;
        }
    }
    EXPECT_TRUE(test::transfersEnd()) << "an abandoned transfer still runs";
}

// Each round is a short-lived process of its own: it adds one entry to the cache index and one
// to the cookie history and saves both, so every save must keep what the other process saved.
TEST(ConcurrencyProcessTest, Saves_TwoProcessesAtOnceLoseNoEntry) {
    constexpr int kRounds = 100;
    const test::TempDir home;
    const std::string cacheDirectory = (home.path() / "cache").string();
    const auto url = [](char who, int round) {
        return std::string("http://") + who + std::to_string(round) + ".example/w3c/p3p.xml";
    };
    const auto text = [](char who, int round) {
        return std::string("<POLICIES name='") + who + std::to_string(round) + "'/>";
    };
    int start[2];
    ASSERT_EQ(::pipe(start), 0);
    std::vector<pid_t> children;
    for (const char who : {'a', 'b'}) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            char go = 0;
            int status = ::read(start[0], &go, 1) == 1 ? 0 : 1;
            try {
                for (int round = 0; round < kRounds; ++round) {
                    PolicyCache cache(cacheDirectory);
                    cache.storeDocument(url(who, round), text(who, round), 0);
                    cache.writeCacheIndex();
                    P3PPreferences preferences(home.path().string());
                    preferences.recordCookieSite(url(who, round), "");
                    preferences.writeCookieHistory();
                }
            } catch (...) {
                status = 1;
            }
            ::_exit(status);
        }
        children.push_back(child);
    }
    ASSERT_EQ(::write(start[1], "gg", 2), 2);
    for (const pid_t child : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "a save failed";
    }
    ::close(start[0]);
    ::close(start[1]);

    PolicyCache cache(cacheDirectory);
    cache.loadCacheIndex();
    P3PPreferences preferences(home.path().string());
    preferences.readCookieHistory();
    const CookieHistory history = preferences.cookieHistory();
    for (const char who : {'a', 'b'}) {
        for (int round = 0; round < kRounds; ++round) {
            EXPECT_EQ(cache.readCachedDocument(url(who, round)), text(who, round))
                << url(who, round);
            EXPECT_TRUE(history.sites().contains(url(who, round))) << url(who, round);
        }
    }
}

}  // namespace
}  // namespace perchlight
