// The event-driven transfers: many checks at once, no descriptor left behind, cancellation.
#include "retrieval/TransferEngine.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

#include "CannedResponseServer.h"
#include "LoopbackServer.h"
#include "TestSupport.h"
#include "browser/AgentServices.h"
#include "browser/HeadlessOwner.h"
#include "retrieval/CheckRegistry.h"
#include "retrieval/HttpClient.h"
#include "retrieval/PageCheck.h"
#include "util/Error.h"

namespace perchlight {
namespace {

constexpr int kSites = 2000;
constexpr int kCheckThreads = 200;
// Page requests held at the server until this many wait together (or a bound passes): the
// number the client had in flight at once.
constexpr int kHeldTogether = 100;

int openDescriptors() {
    int count = 0;
    for ([[maybe_unused]] const auto& entry :
         std::filesystem::directory_iterator("/proc/self/fd")) {
        ++count;
    }
    return count;
}

// The open descriptors once the server's side of closed connections has closed too (its
// threads see the end of each one soon), at most a few seconds later.
int settledDescriptors(int expected) {
    int count = openDescriptors();
    for (int i = 0; i < 500 && count > expected; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        count = openDescriptors();
    }
    return count;
}

// The open descriptors once they stopped changing for a moment.
int steadyDescriptors() {
    int count = openDescriptors();
    for (int i = 0; i < 100; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        const int now = openDescriptors();
        if (now == count) {
            break;
        }
        count = now;
    }
    return count;
}

// Holds requests until `expected` of them wait at once, or a bound passes; remembers the most
// that waited together.
class Gate {
  public:
    explicit Gate(int expected) : expected_(expected) {}
    void pass() {
        std::unique_lock guard(lock_);
        ++waiting_;
        largest_ = std::max(largest_, waiting_);
        arrived_.notify_all();
        arrived_.wait_for(guard, std::chrono::seconds(2), [this] { return largest_ >= expected_; });
        --waiting_;
    }
    int largest() {
        std::lock_guard guard(lock_);
        return largest_;
    }

  private:
    std::mutex lock_;
    std::condition_variable arrived_;
    const int expected_;
    int waiting_ = 0;
    int largest_ = 0;
};

// Runs the downloads on a check thread of their own, registered with the check monitor; stopped
// says whether they ended with "STOP", ended that they ended.
std::thread checkThread(Monitor& checkMonitor, std::atomic<bool>& stopped, std::atomic<bool>& ended,
                        std::function<void()> downloads) {
    return std::thread([&checkMonitor, &stopped, &ended, downloads = std::move(downloads)] {
        CheckRegistry::registerCurrentThread(checkMonitor);
        try {
            downloads();
        } catch (const Error& error) {
            stopped = isStop(error);
        }
        CheckRegistry::unregisterCurrentThread();
        ended = true;
    });
}

// Wakes a check's monitor, as a window's cancel does, until the check has ended (a few seconds at
// most).
void cancelUntilEnded(Monitor& checkMonitor, const std::atomic<bool>& ended) {
    for (int i = 0; i < 500 && !ended; ++i) {
        {
            MonitorLock guard(checkMonitor);
            checkMonitor.broadcast();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

// One server answers for every site: each site is a host name of its own under "localhost",
// which libcurl resolves to the loopback address itself, so every site has its own connections.
class TransferEngineTest : public ::testing::Test {
  protected:
    TransferEngineTest() {
        server_.server().new_task_queue = [] {
            return new httplib::ThreadPool(kCheckThreads + 56);
        };
        server_.server().set_keep_alive_max_count(3);
        const std::string basic = test::readFile(test::dataDir() / "examples" / "shop-basic.xml");
        server_.server().Get("/index.html", [this](const httplib::Request&, httplib::Response& r) {
            gate_.pass();
            r.set_content("<html><body>page</body></html>", "text/html");
        });
        server_.server().Get("/w3c/p3p.xml", [](const httplib::Request&, httplib::Response& r) {
            r.set_content(
                "<META><POLICY-REFERENCES><POLICY-REF about='/w3c/policy.xml#basic'>"
                "<INCLUDE>/*</INCLUDE></POLICY-REF></POLICY-REFERENCES></META>",
                "text/xml");
        });
        server_.server().Get("/w3c/policy.xml",
                             [basic](const httplib::Request&, httplib::Response& r) {
                                 r.set_content(basic, "text/xml");
                             });
        server_.server().Get("/port", [this](const httplib::Request& q, httplib::Response& r) {
            std::lock_guard guard(stallLock_);
            ports_.push_back(q.remote_port);
            r.set_content("port", "text/plain");
        });
        server_.server().Get("/stalled", [this](const httplib::Request&, httplib::Response& r) {
            std::unique_lock guard(stallLock_);
            stalled_ = true;
            ++stalledCount_;
            stallChanged_.notify_all();
            stallChanged_.wait_for(guard, std::chrono::seconds(10), [this] { return released_; });
            r.set_content("late", "text/plain");
        });
        server_.start();
    }

    ~TransferEngineTest() override { release(); }

    void release() {
        std::lock_guard guard(stallLock_);
        released_ = true;
        stallChanged_.notify_all();
    }

    std::string site(int index, const std::string& path) {
        std::string url = server_.url(path);
        url.replace(url.find("127.0.0.1"), 9, "s" + std::to_string(index) + ".localhost");
        return url;
    }

    // Waits until n requests are held at "/stalled".
    bool stalledAtOnce(int n) {
        std::unique_lock guard(stallLock_);
        return stallChanged_.wait_for(guard, std::chrono::seconds(10),
                                      [this, n] { return stalledCount_ >= n; });
    }

    Gate gate_{kHeldTogether};
    std::mutex stallLock_;
    std::condition_variable stallChanged_;
    std::vector<int> ports_;  // the client port of each "/port" request, guarded by stallLock_
    int stalledCount_ = 0;    // guarded by stallLock_
    bool stalled_ = false;
    bool released_ = false;
    test::LoopbackServer server_;
};

TEST_F(TransferEngineTest, ManyChecks_WellAbove64InFlightEveryVerdictRightNoDescriptorLeft) {
    test::ModuleHome home({"BaseDataschema-std.xml", "appel-medium.xml"});
    // The engine's own descriptors (its wake-up pair) exist from its first transfer on.
    std::string headers;
    HttpClient::fetchDocument(site(0, "/w3c/p3p.xml"), headers);
    TransferEngine::closeIdleConnections();
    const int before = steadyDescriptors();
    std::atomic<int> matched{0};
    {
        AgentServices services(home.path().string());
        services.setRuleSetFile((home.path() / "appel-medium.xml").string());
        std::atomic<int> next{0};
        std::vector<std::thread> checkers;
        for (int t = 0; t < kCheckThreads; ++t) {
            checkers.emplace_back([&] {
                for (int i = next++; i < kSites; i = next++) {
                    P3PMatchInfo info(services.referenceStore(), services.cache());
                    HeadlessOwner owner(info);
                    const Url page(site(i, "/index.html"));
                    owner.loadPage(page, false);
                    runCheckThread(owner, owner.pageUrl(), "");
                    if (owner.verdict() == kVerdictMatched) {
                        ++matched;
                    }
                }
            });
        }
        for (std::thread& checker : checkers) {
            checker.join();
        }
    }
    EXPECT_EQ(matched, kSites);
    EXPECT_GE(gate_.largest(), kHeldTogether);
    ASSERT_TRUE(test::transfersEnd());
    EXPECT_TRUE(TransferEngine::closeIdleConnections());
    EXPECT_EQ(settledDescriptors(before), before);
}

// A check cancelled while its document downloads gets "STOP" at once, and its transfer is
// removed then too: the engine counts it no more and the server's connection is closed.
TEST_F(TransferEngineTest, Cancel_MidDownloadFreesTheTransferAtOnce) {
    Monitor checkMonitor;
    std::atomic<bool> stopped{false};
    std::thread check([&] {
        CheckRegistry::registerCurrentThread(checkMonitor);
        std::string headers;
        try {
            HttpClient::fetchDocument(site(1, "/stalled"), headers);
        } catch (const Error& error) {
            stopped = isStop(error);
        }
        CheckRegistry::unregisterCurrentThread();
    });
    {
        std::unique_lock guard(stallLock_);
        ASSERT_TRUE(
            stallChanged_.wait_for(guard, std::chrono::seconds(10), [this] { return stalled_; }));
    }
    EXPECT_EQ(HttpClient::activeTransfers(), 1);
    {
        MonitorLock guard(checkMonitor);
        checkMonitor.broadcast();
    }
    check.join();
    EXPECT_TRUE(stopped);
    // Removed while the server still holds the request: well before the stall ends.
    EXPECT_TRUE(test::transfersEnd(std::chrono::seconds(5)));
    release();
}

// A batch downloads at once and answers in the order asked, each as a single download would: a
// document, nothing for an empty address, nothing but the headers for an error page.
TEST_F(TransferEngineTest, Batch_AnswersInOrderAsSingleDownloadsWould) {
    const std::vector<HttpClient::Download> downloads = HttpClient::fetchDocuments(
        {site(1, "/w3c/policy.xml"), "", site(2, "/missing"), site(3, "/w3c/p3p.xml")});
    ASSERT_EQ(downloads.size(), 4u);
    ASSERT_TRUE(downloads[0].body);
    EXPECT_NE(downloads[0].body->find("<POLICY"), std::string::npos);
    EXPECT_FALSE(downloads[1].body);
    EXPECT_TRUE(downloads[1].headers.empty());
    EXPECT_FALSE(downloads[2].body);
    EXPECT_NE(downloads[2].headers.find(" 404"), std::string::npos);
    ASSERT_TRUE(downloads[3].body);
    EXPECT_NE(downloads[3].body->find("POLICY-REFERENCES"), std::string::npos);
    EXPECT_TRUE(test::transfersEnd());
    // The transfers' buffers have given back what the process-wide bound counted.
    EXPECT_EQ(TextBuffer::buffered(), 0u);
}

// A check cancelled while its batch waits for a stalled document stops with "STOP", and the
// batch's transfers are removed at once, not when the stall ends.
TEST_F(TransferEngineTest, Batch_CancelledMidDownloadStopsAndFreesItsTransfers) {
    Monitor checkMonitor;
    std::atomic<bool> stopped{false};
    std::atomic<bool> ended{false};
    std::thread check = checkThread(checkMonitor, stopped, ended, [this] {
        HttpClient::fetchDocuments({site(4, "/w3c/policy.xml"), site(5, "/stalled")});
    });
    {
        std::unique_lock guard(stallLock_);
        ASSERT_TRUE(
            stallChanged_.wait_for(guard, std::chrono::seconds(10), [this] { return stalled_; }));
    }
    // The other document's arrival wakes the batch too; a wake that brings none stops it.
    cancelUntilEnded(checkMonitor, ended);
    check.join();
    EXPECT_TRUE(stopped);
    EXPECT_TRUE(test::transfersEnd(std::chrono::seconds(5)));
    release();
}

// Transfers of different connection groups share no connection and no libcurl bound, yet
// together they never open more connections to one host than a browser would: of twice that many
// started at once, the server holding every connection unanswered sees only the bound, and the
// rest follow once those are answered.
TEST(TransferEngineBounds, GroupsTogetherOpenAtMostSixConnectionsToOneHost) {
    constexpr int kTransfers = 2 * TransferEngine::kMaxHostConnections;
    test::CannedResponseServer server(
        "HTTP/1.1 200 OK\r\nContent-Length: 4\r\nConnection: close\r\n\r\nheld", true);
    std::string url = server.url("/held");
    url.replace(url.find("127.0.0.1"), 9, "bounded.localhost");
    std::atomic<int> answered{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < kTransfers; ++i) {
        threads.emplace_back([&] {
            ConnectionGroup group;
            ConnectionGroup::Scope scope(group);
            std::string headers;
            if (HttpClient::fetchDocument(url, headers) == "held") {
                ++answered;
            }
        });
    }
    ASSERT_EQ(server.held(TransferEngine::kMaxHostConnections),
              TransferEngine::kMaxHostConnections);
    // A transfer past the bound would connect within this time; none may.
    EXPECT_EQ(server.held(kTransfers, std::chrono::milliseconds(300)),
              TransferEngine::kMaxHostConnections);
    server.release();
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(answered, kTransfers);
    EXPECT_TRUE(test::transfersEnd());
}

// A group's transfers reuse its connection; another group's do not; and the connection closes
// once its group and transfers are gone, without waiting for the end of the process.
TEST_F(TransferEngineTest, Group_OwnConnectionReusedNotSharedClosedWithTheGroup) {
    std::string headers;
    HttpClient::fetchDocument(site(8, "/port"), headers);
    ASSERT_TRUE(TransferEngine::closeIdleConnections());
    const int before = steadyDescriptors();
    const auto fetchTwice = [&] {
        ConnectionGroup group;
        ConnectionGroup::Scope scope(group);
        HttpClient::fetchDocument(site(8, "/port"), headers);
        HttpClient::fetchDocument(site(8, "/port"), headers);
        EXPECT_GT(openDescriptors(), before);  // its connection, kept for the group
    };
    fetchTwice();
    EXPECT_EQ(settledDescriptors(before), before);
    fetchTwice();
    EXPECT_EQ(settledDescriptors(before), before);
    std::lock_guard guard(stallLock_);
    ASSERT_EQ(ports_.size(), 5u);
    EXPECT_EQ(ports_[1], ports_[2]);
    EXPECT_EQ(ports_[3], ports_[4]);
    EXPECT_NE(ports_[2], ports_[3]);
}

// A transfer waiting for a place under the bound per host is cancelled like a running one: its
// check stops at once and it never reaches the server.
TEST_F(TransferEngineTest, Queue_CancelledWhileWaitingStopsAndNeverStarts) {
    std::vector<std::thread> holders;
    for (long i = 0; i < TransferEngine::kMaxHostConnections; ++i) {
        holders.emplace_back([this] {
            std::string headers;
            HttpClient::fetchDocument(site(9, "/stalled"), headers);
        });
    }
    ASSERT_TRUE(stalledAtOnce(TransferEngine::kMaxHostConnections));
    Monitor checkMonitor;
    std::atomic<bool> stopped{false};
    std::atomic<bool> ended{false};
    std::thread check = checkThread(checkMonitor, stopped, ended, [this] {
        std::string headers;
        HttpClient::fetchDocument(site(9, "/stalled"), headers);
    });
    for (int i = 0;
         i < 1000 && HttpClient::activeTransfers() <= TransferEngine::kMaxHostConnections; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    cancelUntilEnded(checkMonitor, ended);
    check.join();
    EXPECT_TRUE(stopped);
    EXPECT_EQ(HttpClient::activeTransfers(), TransferEngine::kMaxHostConnections);
    release();
    for (std::thread& holder : holders) {
        holder.join();
    }
    EXPECT_TRUE(test::transfersEnd());
    std::lock_guard guard(stallLock_);
    EXPECT_EQ(stalledCount_, TransferEngine::kMaxHostConnections);
}

// Runs a prepared transfer to its end and gives its body; the handle is back in the engine's
// hands (made again for the next transfer) once this returns.
std::string runTransfer(CurlHandle handle) {
    auto body = std::make_shared<TextBuffer>(HttpClient::kMaxBodyBytes);
    curl_easy_setopt(handle.get(), CURLOPT_WRITEFUNCTION, &HttpClient::appendToBuffer);
    curl_easy_setopt(handle.get(), CURLOPT_WRITEDATA, body.get());
    std::promise<void> ended;
    TransferEngine::start(std::move(handle), body,
                          [&ended](CURL*, CURLcode) { ended.set_value(); });
    ended.get_future().wait();
    EXPECT_TRUE(test::transfersEnd());
    return body->data;
}

// A handle an ended transfer leaves is made again for the next one: it comes back with libcurl's
// defaults and out of the group it ran in, whose connection still closes when the group goes.
TEST_F(TransferEngineTest, Pool_HandleComesBackWithNothingOfItsLastTransfer) {
    ASSERT_TRUE(TransferEngine::closeIdleConnections());
    const int before = steadyDescriptors();
    CURL* used = nullptr;
    {
        ConnectionGroup group;
        ConnectionGroup::Scope scope(group);
        CurlHandle handle = TransferEngine::newHandle();
        used = handle.get();
        curl_easy_setopt(used, CURLOPT_URL, site(10, "/port").c_str());
        curl_easy_setopt(used, CURLOPT_NOBODY, 1L);
        EXPECT_EQ(runTransfer(std::move(handle)), "");
    }
    EXPECT_EQ(settledDescriptors(before), before) << "the group's connection was not closed";
    CurlHandle again = TransferEngine::newHandle();
    ASSERT_EQ(again.get(), used);
    curl_easy_setopt(again.get(), CURLOPT_URL, site(10, "/port").c_str());
    EXPECT_EQ(runTransfer(std::move(again)), "port") << "the handle kept its last options";
    std::lock_guard guard(stallLock_);
    ASSERT_EQ(ports_.size(), 2u);
    EXPECT_NE(ports_[0], ports_[1]) << "the group's connection outlived the group";
}

}  // namespace
}  // namespace perchlight
