#include "retrieval/PolicyPrefetch.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <condition_variable>
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

constexpr int kItemSites = 4;

const char* kReferences =
    "<META><POLICY-REFERENCES><POLICY-REF about='/w3c/policy.xml#%NAME%'><INCLUDE>/*</INCLUDE>"
    "</POLICY-REF></POLICY-REFERENCES></META>";

std::string references(const std::string& name) {
    std::string text = kReferences;
    text.replace(text.find("%NAME%"), 6, name);
    return text;
}

// An owner that can do without the prefetch, to compare with the check as it was.
class Owner : public HeadlessOwner {
  public:
    Owner(P3PMatchInfo& info, bool prefetch) : HeadlessOwner(info), prefetch_(prefetch) {}
    bool prefetches() const override { return prefetch_; }

  private:
    bool prefetch_;
};

// Requests to the item sites' well-known locations are held until all of them have arrived, or
// a bound that only a one-after-the-other fetch reaches: the largest number held at once shows
// whether they were in flight together.
class Gate {
  public:
    void pass() {
        std::unique_lock guard(lock_);
        if (!closed_) {
            return;
        }
        ++waiting_;
        largest_ = std::max(largest_, waiting_);
        arrived_.notify_all();
        arrived_.wait_for(guard, std::chrono::seconds(2), [this] { return largest_ >= expected_; });
        --waiting_;
    }
    // How many requests release each other.
    void expect(int count) {
        std::lock_guard guard(lock_);
        expected_ = count;
    }
    void open() {
        std::lock_guard guard(lock_);
        closed_ = false;
    }
    int largest() {
        std::lock_guard guard(lock_);
        return largest_;
    }

  private:
    std::mutex lock_;
    std::condition_variable arrived_;
    bool closed_ = true;
    int expected_ = kItemSites;
    int waiting_ = 0;
    int largest_ = 0;
};

// A page on one site with two images from each of four other sites, each site with its own
// reference file at the well-known location and its own policy; one site's policy conflicts.
class PolicyPrefetchTest : public ::testing::Test {
  protected:
    PolicyPrefetchTest() {
        const std::string basic = test::readFile(test::dataDir() / "examples" / "shop-basic.xml");
        const std::string marketing =
            test::readFile(test::dataDir() / "examples" / "marketing.xml");
        for (int i = 0; i < kItemSites; ++i) {
            serve(items_[i], "/w3c/p3p.xml", references(i == 2 ? "retail" : "basic"), true);
            serve(items_[i], "/w3c/policy.xml", i == 2 ? marketing : basic, false);
            items_[i].start();
        }
        serve(page_, "/w3c/p3p.xml", references("basic"), false);
        serve(page_, "/w3c/policy.xml", basic, false);
        std::string html = "<html><body>";
        for (int i = 0; i < kItemSites; ++i) {
            html += "<img src='" + items_[i].url("/a.png") + "'><img src='" +
                    items_[i].url("/b.png") + "'>";
        }
        serve(page_, "/index.html", html + "</body></html>", false);
        page_.start();
    }

    void serve(test::LoopbackServer& site, const std::string& path, const std::string& body,
               bool gated) {
        site.server().Get(path, [=, this, &site](const httplib::Request&, httplib::Response& r) {
            {
                std::lock_guard guard(lock_);
                ++requests_[site.url(path)];
            }
            if (gated) {
                gate_.pass();
            }
            r.set_content(body, "text/xml");
        });
    }

    // Checks the page with services of its own over a fresh module directory.
    struct Outcome {
        int verdict = kVerdictUnknown;
        std::map<std::string, std::pair<int, std::string>> items;  // url -> state, policy
        std::vector<std::string> itemOrder;
        std::string policy;
    };
    Outcome check(bool prefetch) {
        test::ModuleHome home({"BaseDataschema-std.xml", "appel-medium.xml"});
        AgentServices services(home.path().string());
        services.setRuleSetFile((home.path() / "appel-medium.xml").string());
        P3PMatchInfo info(services.referenceStore(), services.cache());
        Owner owner(info, prefetch);
        const Url page(page_.url("/index.html"));
        owner.loadPage(page, false);
        std::thread thread(runCheckThread, std::ref(owner), page, "");
        thread.join();
        Outcome outcome{owner.verdict(), {}, {}, info.mainPolicyUrl().str()};
        for (const Url& url : info.embeddedUrls()) {
            outcome.items[url.str()] = {info.embeddedState(url), info.embeddedPolicyUrl(url).str()};
            outcome.itemOrder.push_back(url.str());
        }
        return outcome;
    }

    std::map<std::string, int> takeRequests() {
        std::lock_guard guard(lock_);
        return std::exchange(requests_, {});
    }

    Gate gate_;
    std::mutex lock_;
    std::map<std::string, int> requests_;
    std::array<test::LoopbackServer, kItemSites> items_;
    test::LoopbackServer page_;
};

TEST_F(PolicyPrefetchTest, ColdCheck_FetchesItemSitesConcurrentlyAndEachDocumentOnce) {
    const Outcome outcome = check(true);
    EXPECT_EQ(gate_.largest(), kItemSites);
    const std::map<std::string, int> requests = takeRequests();
    for (const auto& [url, count] : requests) {
        EXPECT_EQ(count, 1) << url;
    }
    // The page, and the reference file and policy of each of the five sites.
    EXPECT_EQ(requests.size(), 1u + 2u * (kItemSites + 1));
    EXPECT_EQ(outcome.verdict, kVerdictPartlyMatched);
    EXPECT_TRUE(test::transfersEnd());
}

TEST_F(PolicyPrefetchTest, ColdCheck_SameResultsAsWithoutPrefetch) {
    gate_.open();
    const Outcome without = check(false);
    const std::map<std::string, int> requestsWithout = takeRequests();
    const Outcome with = check(true);
    const std::map<std::string, int> requestsWith = takeRequests();
    EXPECT_EQ(with.verdict, without.verdict);
    EXPECT_EQ(with.policy, without.policy);
    EXPECT_EQ(with.items, without.items);
    EXPECT_EQ(with.itemOrder, without.itemOrder);
    EXPECT_EQ(requestsWith, requestsWithout);
    ASSERT_EQ(with.items.size(), 2u * kItemSites);
    EXPECT_EQ(with.items.at(items_[2].url("/a.png")).first, kStateConflict);
    EXPECT_EQ(with.items.at(items_[0].url("/a.png")).first, kStateNoConflict);
}

// A check cancelled while its prefetches wait for the item sites gives them up and ends with
// "STOP": the unknown verdict and an empty check state.
TEST_F(PolicyPrefetchTest, Cancel_AbandonsPrefetchesAndStops) {
    test::ModuleHome home({"BaseDataschema-std.xml", "appel-medium.xml"});
    AgentServices services(home.path().string());
    services.setRuleSetFile((home.path() / "appel-medium.xml").string());
    P3PMatchInfo info(services.referenceStore(), services.cache());
    Owner owner(info, true);
    const Url page(page_.url("/index.html"));
    owner.loadPage(page, false);
    // The gate waits for one request more than there are item sites: it holds them all.
    gate_.expect(kItemSites + 1);
    std::thread thread(runCheckThread, std::ref(owner), page, "");
    for (int i = 0; i < 2000 && gate_.largest() == 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    info.setRunning(false);
    std::atomic<bool> ended{false};
    std::thread canceller([&] {
        for (int i = 0; i < 100 && !ended; ++i) {
            {
                MonitorLock guard(owner.checkMonitor());
                owner.checkMonitor().broadcast();
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });
    thread.join();
    ended = true;
    canceller.join();
    EXPECT_EQ(owner.verdict(), kVerdictUnknown);
    EXPECT_TRUE(info.embeddedUrls().empty());
    EXPECT_TRUE(info.mainPolicyUrl().empty());
    EXPECT_TRUE(test::transfersEnd());
}

}  // namespace
}  // namespace perchlight
