#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "LoopbackServer.h"
#include "TestSupport.h"
#include "core/BaseDataSchema.h"
#include "core/P3PEvaluator.h"
#include "retrieval/PolicyCache.h"
#include "util/Error.h"

namespace perchlight {
namespace {

namespace fs = std::filesystem;
using std::chrono::steady_clock;

// Every hostile case must end well inside this, sanitizers included.
constexpr auto kBound = std::chrono::seconds(60);

const std::string kStatement =
    "<STATEMENT><PURPOSE><telemarketing/></PURPOSE><RECIPIENT><ours/></RECIPIENT>"
    "<RETENTION><stated-purpose/></RETENTION><DATA-GROUP><DATA ref='#user.name'/></DATA-GROUP>"
    "</STATEMENT>";

std::string policyWith(const std::string& statements) {
    return "<POLICY name='p' discuri='http://a.example/'><ENTITY><DATA-GROUP>"
           "<DATA ref='#business.name'>A</DATA></DATA-GROUP></ENTITY><ACCESS><nonident/></ACCESS>" +
           statements + "</POLICY>";
}

std::string repeat(const std::string& text, std::size_t times) {
    std::string out;
    out.reserve(text.size() * times);
    for (std::size_t i = 0; i < times; ++i) {
        out += text;
    }
    return out;
}

// A web site that misbehaves in every way it can on one loopback server, and a cache over it that
// downloads with the real HTTP client.
class HostileServerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        auto& server = loopback_.server();
        server.Get("/endless", [](const httplib::Request&, httplib::Response& response) {
            response.set_chunked_content_provider(
                "text/xml", [](std::size_t, httplib::DataSink& sink) {
                    return sink.write(std::string(64 * 1024, 'x').data(), 64 * 1024);
                });
        });
        server.Get("/100mb", [](const httplib::Request&, httplib::Response& response) {
            response.set_content_provider(
                100 * 1024 * 1024, "text/xml",
                [](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                    const std::string chunk(64 * 1024, offset == 0 ? '<' : 'x');
                    return sink.write(chunk.data(), chunk.size());
                });
        });
        server.Get("/reset", [](const httplib::Request&, httplib::Response& response) {
            response.set_content_provider(
                100000, "text/xml", [](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                    if (offset > 0) {
                        return false;  // the server drops the connection mid-body
                    }
                    return sink.write(policyWith("").data(), 100);
                });
        });
        server.Get("/loop", [](const httplib::Request&, httplib::Response& response) {
            response.set_redirect("/loop");
        });
        for (const char* target : {"file:///etc/passwd", "ftp://127.0.0.1/p3p.xml",
                                   "gopher://127.0.0.1/p3p.xml", "dict://127.0.0.1/p3p"}) {
            server.Get("/to-" + std::string(target).substr(0, std::string(target).find(':')),
                       [target](const httplib::Request&, httplib::Response& response) {
                           response.set_redirect(target);
                       });
        }
        server.Get("/big-headers", [](const httplib::Request&, httplib::Response& response) {
            response.set_header("X-Filler", std::string(1024 * 1024, 'h'));
            response.set_content(policyWith(kStatement), "text/xml");
        });
        loopback_.start();
        cache_.setRuleSetReader([](std::string& ruleSet) {
            ruleSet = test::readFile(test::dataDir() / "appel-high.xml");
            return true;
        });
    }

    // Evaluates the URL's policy within the bound; true when it came to no verdict and left no
    // cached file behind.
    bool endsWithoutVerdict(const std::string& path) {
        const std::string url = loopback_.url(path);
        MatchResult result;
        const auto start = steady_clock::now();
        try {
            cache_.evaluatePolicy(url + "#p", result);
        } catch (const Error&) {
            // the page check's top catches this and shows the unknown verdict
        }
        EXPECT_LT(steady_clock::now() - start, kBound) << path;
        return result.state == kStateNotEvaluated &&
               !fs::is_regular_file(cache_.cachedFilePath(url));
    }

    const test::ModuleHome home_{{"BaseDataschema-std.xml"}};
    test::TempDir dir_;
    test::LoopbackServer loopback_;
    PolicyCache cache_{(dir_ / "cache").string()};
};

TEST_F(HostileServerTest, Download_EveryMisbehaviourEndsUnknownAndUncached) {
    for (const char* path : {"/endless", "/100mb", "/reset", "/loop", "/to-file", "/to-ftp",
                             "/to-gopher", "/to-dict", "/big-headers"}) {
        EXPECT_TRUE(endsWithoutVerdict(path)) << path;
    }
}

// Documents built to exhaust the parser or the engine: rejected or evaluated, always in bounded
// time.
TEST(HostileDocument, Policy_PathologicalShapesEndInBoundedTime) {
    BaseDataSchema schema((test::dataDir() / BaseDataSchema::kFileName).string());
    const std::string rules = test::readFile(test::dataDir() / "appel-high.xml");
    std::string laughs = "<?xml version='1.0'?><!DOCTYPE POLICY [<!ENTITY l0 'lol'>";
    for (int i = 1; i < 10; ++i) {
        laughs += "<!ENTITY l" + std::to_string(i) + " '" +
                  repeat("&l" + std::to_string(i - 1) + ";", 10) + "'>";
    }
    laughs += "]><POLICY>&l9;</POLICY>";
    const struct {
        const char* about;
        std::string policy;
        bool parses;
    } cases[] = {
        {"billion laughs", laughs, false},
        {"10,000 levels", policyWith(repeat("<STATEMENT>", 10000) + repeat("</STATEMENT>", 10000)),
         false},
        {"100,000 statements",
         policyWith(repeat("<STATEMENT><PURPOSE><telemarketing/></PURPOSE></STATEMENT>", 100000)),
         true},
    };
    for (const auto& c : cases) {
        MatchResult result;
        const auto start = steady_clock::now();
        bool parsed = true;
        try {
            P3PEvaluator(nullptr, schema)
                .evaluatePolicy(rules, c.policy, Url("http://a.example/p3p.xml"), "p", result);
        } catch (const Error& error) {
            parsed = false;
            EXPECT_EQ(error.message(), "XML parse error") << c.about;
        }
        EXPECT_EQ(parsed, c.parses) << c.about;
        EXPECT_LT(steady_clock::now() - start, kBound) << c.about;
    }
}

}  // namespace
}  // namespace perchlight
