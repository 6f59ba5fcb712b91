#include "retrieval/HttpClient.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "LoopbackServer.h"
#include "retrieval/CheckRegistry.h"
#include "util/Error.h"

namespace perchlight {
namespace {

using namespace std::chrono_literals;

void expectStop(const std::string& url) {
    std::string headers;
    try {
        HttpClient::fetchDocument(url, headers);
        ADD_FAILURE() << "no STOP";
    } catch (const Error& error) {
        EXPECT_TRUE(isStop(error));
    }
}

class HttpClientTest : public ::testing::Test {
  protected:
    void SetUp() override {
        auto& server = loopback_.server();
        server.Get("/policy.xml", [](const httplib::Request&, httplib::Response& response) {
            response.set_header("P3P", "policyref=\"/w3c/p3p.xml\"");
            response.set_content(std::string("<POLICY/>\0tail", 14), "text/xml");
        });
        server.Get("/empty", [](const httplib::Request&, httplib::Response& response) {
            response.status = 200;
        });
        server.Get("/huge", [](const httplib::Request&, httplib::Response& response) {
            response.set_content(std::string(HttpClient::kMaxBodyBytes + 1, 'x'), "text/xml");
        });
        server.Get("/to-file", [](const httplib::Request&, httplib::Response& response) {
            response.set_redirect("file:///etc/hostname");
        });
        server.Get("/loop", [](const httplib::Request&, httplib::Response& response) {
            response.set_redirect("/loop");
        });
        server.Get("/missing", [](const httplib::Request&, httplib::Response& response) {
            response.status = 404;
            response.set_content("<html><body>Not found</body></html>", "text/html");
        });
        server.Get("/failing", [](const httplib::Request&, httplib::Response& response) {
            response.status = 500;
            response.set_content("<POLICY/>", "text/xml");
        });
        server.Get("/stalled", [this](const httplib::Request&, httplib::Response& response) {
            std::unique_lock guard(stallLock_);
            released_.wait(guard, [this] { return release_; });
            response.set_content("late", "text/plain");
        });
        loopback_.start();
    }

    void TearDown() override {
        releaseStalled();
        HttpClient::setCheckWaitForTesting(HttpClient::kCheckWait);
    }

    void releaseStalled() {
        std::lock_guard guard(stallLock_);
        release_ = true;
        released_.notify_all();
    }

    // Declared before the server, so that they outlive the handlers it runs until it stops.
    std::mutex stallLock_;
    std::condition_variable released_;
    bool release_ = false;
    test::LoopbackServer loopback_;
};

TEST_F(HttpClientTest, Download_ReturnsTheWholeBodyAndTheHeaderText) {
    std::string headers;
    const auto body = HttpClient::fetchDocument(loopback_.url("/policy.xml"), headers);
    ASSERT_TRUE(body);
    EXPECT_EQ(*body, std::string("<POLICY/>\0tail", 14));
    EXPECT_EQ(headers.rfind("HTTP/1.1 200", 0), 0u);
    EXPECT_NE(headers.find("P3P: policyref=\"/w3c/p3p.xml\"\r\n"), std::string::npos);
    EXPECT_EQ(headers.substr(headers.size() - 4), "\r\n\r\n");
}

TEST_F(HttpClientTest, Download_YieldsNothingForNoUrlNoBodyOrTooLongABody) {
    std::string headers = "untouched";
    EXPECT_FALSE(HttpClient::fetchDocument("", headers));
    EXPECT_EQ(headers, "untouched");
    EXPECT_FALSE(HttpClient::fetchDocument(loopback_.url("/empty"), headers));
    EXPECT_FALSE(HttpClient::fetchDocument(loopback_.url("/huge"), headers));
    EXPECT_FALSE(HttpClient::fetchDocument("http://127.0.0.1:1/unreachable", headers));
}

TEST_F(HttpClientTest, Download_YieldsNothingButTheHeadersForAnErrorStatus) {
    for (const char* path : {"/missing", "/failing"}) {
        std::string headers;
        EXPECT_FALSE(HttpClient::fetchDocument(loopback_.url(path), headers)) << path;
        EXPECT_EQ(headers.rfind("HTTP/1.1 ", 0), 0u) << path;
    }
}

TEST_F(HttpClientTest, Download_FollowsRedirectsOnlyOverTheWebAndBoundsThem) {
    std::string headers;
    EXPECT_FALSE(HttpClient::fetchDocument(loopback_.url("/to-file"), headers));
    EXPECT_FALSE(HttpClient::fetchDocument(loopback_.url("/loop"), headers));
    EXPECT_FALSE(HttpClient::fetchDocument("file:///etc/hostname", headers));
}

TEST_F(HttpClientTest, HeaderProbe_ReturnsHeadersAndNoBody) {
    std::string headers;
    EXPECT_TRUE(HttpClient::fetchHeaders(loopback_.url("/policy.xml"), headers));
    EXPECT_NE(headers.find("P3P: policyref="), std::string::npos);
    EXPECT_FALSE(HttpClient::fetchDocument(loopback_.url("/policy.xml"), headers, true));
    EXPECT_NE(headers.find("P3P: policyref="), std::string::npos);
    EXPECT_TRUE(HttpClient::fetchHeaders("http://127.0.0.1:1/unreachable", headers));
    EXPECT_EQ(headers, "");
}

// A cancelled check must not wait for its download: the window signals the check monitor until
// the check has given up.
TEST_F(HttpClientTest, Download_OnACancelledCheckRaisesStop) {
    Monitor checkMonitor;
    std::atomic<bool> done{false};
    std::thread canceller([&] {
        while (!done) {
            {
                MonitorLock guard(checkMonitor);
                checkMonitor.broadcast();
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });
    CheckRegistry::registerCurrentThread(checkMonitor);
    expectStop(loopback_.url("/stalled"));
    CheckRegistry::unregisterCurrentThread();
    done = true;
    canceller.join();
    EXPECT_TRUE(test::transfersEnd()) << "the abandoned transfer still runs";
}

// The server stays stalled: the abandoned transfer must abort on its own and free what it holds.
TEST_F(HttpClientTest, Download_RaisesStopWhenTheCheckWaitRunsOut) {
    HttpClient::setCheckWaitForTesting(100ms);
    Monitor checkMonitor;
    CheckRegistry::registerCurrentThread(checkMonitor);
    expectStop(loopback_.url("/stalled"));
    CheckRegistry::unregisterCurrentThread();
    EXPECT_TRUE(test::transfersEnd()) << "the abandoned transfer still runs";
}

TEST_F(HttpClientTest, Download_OnACheckThreadReturnsWhatArrives) {
    Monitor checkMonitor;
    CheckRegistry::registerCurrentThread(checkMonitor);
    std::string headers;
    const auto body = HttpClient::fetchDocument(loopback_.url("/policy.xml"), headers);
    CheckRegistry::unregisterCurrentThread();
    ASSERT_TRUE(body);
    EXPECT_EQ(body->substr(0, 9), "<POLICY/>");
}

}  // namespace
}  // namespace perchlight
