#include <gtest/gtest.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "CannedResponseServer.h"
#include "LoopbackServer.h"
#include "TestSupport.h"
#include "core/BaseDataSchema.h"
#include "core/P3PEvaluator.h"
#include "retrieval/CheckRegistry.h"
#include "retrieval/HttpClient.h"
#include "retrieval/PolicyCache.h"
#include "retrieval/ReferenceStore.h"
#include "summary/PolicySummary.h"
#include "util/Error.h"

namespace perchlight {
namespace {

namespace fs = std::filesystem;
using std::chrono::steady_clock;

// Every hostile case must end well inside this, sanitizers included.
constexpr auto kBound = std::chrono::seconds(60);
// What one hostile case may add to the process's peak memory, sanitizers included; the cases
// that test a memory bound would take gigabytes without it.
constexpr long kMemoryBoundKilobytes = 512 * 1024;

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

long peakResidentKilobytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

std::string hex(std::size_t number) {
    char digits[32];
    std::snprintf(digits, sizeof digits, "%zx", number);
    return digits;
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
        // One byte a second of a megabyte: it would take twelve days.
        server.Get("/drip", [](const httplib::Request&, httplib::Response& response) {
            response.set_content_provider(1024 * 1024, "text/xml",
                                          [](std::size_t, std::size_t, httplib::DataSink& sink) {
                                              std::this_thread::sleep_for(std::chrono::seconds(1));
                                              return sink.write("<", 1);
                                          });
        });
        // Documents this test sets up before it asks for them.
        server.Get(
            R"(/doc/(\d+))", [this](const httplib::Request& request, httplib::Response& response) {
                response.set_content(documents_.at(std::stoul(request.matches[1])), "text/xml");
            });
        loopback_.start();
        cache_.setRuleSetReader([](std::string& ruleSet) {
            ruleSet = test::readFile(test::dataDir() / "appel-high.xml");
            return true;
        });
    }

    void TearDown() override { HttpClient::setCheckWaitForTesting(HttpClient::kCheckWait); }

    // Evaluates the URL's policy within the bound; true when it came to no verdict and left no
    // cached file behind.
    bool endsWithoutVerdict(const std::string& url) {
        MatchResult result;
        const auto start = steady_clock::now();
        try {
            cache_.evaluatePolicy(url + "#p", result);
        } catch (const Error&) {
            // the page check's top catches this and shows the unknown verdict
        }
        EXPECT_LT(steady_clock::now() - start, kBound) << url;
        return result.state == kStateNotEvaluated &&
               !fs::is_regular_file(cache_.cachedFilePath(url));
    }

    // The URL under which the server hands out the text.
    std::string serve(std::string text) {
        documents_.push_back(std::move(text));
        return loopback_.url("/doc/" + std::to_string(documents_.size() - 1));
    }

    // Declared before the server, so that they outlive the handlers it runs until it stops.
    std::vector<std::string> documents_;
    const test::ModuleHome home_{{"BaseDataschema-std.xml"}};
    test::TempDir dir_;
    test::LoopbackServer loopback_;
    PolicyCache cache_{(dir_ / "cache").string()};
};

TEST_F(HostileServerTest, Download_EveryMisbehaviourEndsUnknownAndUncached) {
    for (const char* path : {"/endless", "/100mb", "/reset", "/loop", "/to-file", "/to-ftp",
                             "/to-gopher", "/to-dict", "/big-headers"}) {
        EXPECT_TRUE(endsWithoutVerdict(loopback_.url(path))) << path;
    }
}

// Each response carries a whole policy, yet the transfer does not complete: part of a document
// must never pass for all of it.
TEST_F(HostileServerTest, Download_BrokenFramingEndsUnknownAndUncached) {
    const std::string policy = policyWith(kStatement);
    const std::string chunked =
        "HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\nTransfer-Encoding: chunked\r\n\r\n";
    const struct {
        const char* about;
        std::string response;
    } cases[] = {
        {"chunk size no hex number", chunked + "zz\r\n" + policy + "\r\n0\r\n\r\n"},
        {"chunk longer than announced", chunked + "10\r\n" + policy + "\r\n0\r\n\r\n"},
        {"no last chunk before the close", chunked + hex(policy.size()) + "\r\n" + policy + "\r\n"},
        {"closed before its length",
         "HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\nContent-Length: 100000\r\n\r\n" + policy},
    };
    for (const auto& c : cases) {
        const test::CannedResponseServer server(c.response);
        EXPECT_TRUE(endsWithoutVerdict(server.url("/w3c/policy.xml"))) << c.about;
    }
}

// The check gives up when its wait runs out; the transfer it left behind then ends on its own.
TEST_F(HostileServerTest, Download_SlowDripEndsAtTheCheckWaitAndItsTransferEnds) {
    HttpClient::setCheckWaitForTesting(std::chrono::milliseconds(200));
    Monitor checkMonitor;
    CheckRegistry::registerCurrentThread(checkMonitor);
    MatchResult result;
    bool stopped = false;
    try {
        cache_.evaluatePolicy(loopback_.url("/drip#p"), result);
    } catch (const Error& error) {
        stopped = isStop(error);
    }
    CheckRegistry::unregisterCurrentThread();
    EXPECT_TRUE(stopped);
    EXPECT_EQ(result.state, kStateNotEvaluated);
    EXPECT_TRUE(cache_.list().empty()) << "a given-up download is not remembered";
    EXPECT_TRUE(test::transfersEnd(kBound)) << "the abandoned transfer still runs";
}

// Patterns built to make matching slow, in a file loaded from the site, looked up for a long URL:
// the answer comes at once, and is the right one while the matching stays within its bound.
TEST_F(HostileServerTest, ReferenceFile_PathologicalPatternsLookUpInBoundedTime) {
    const auto policyRef = [](const std::string& about, const std::string& element,
                              const std::string& pattern, std::size_t times) {
        return "<POLICY-REF about='" + about + "'>" +
               repeat("<" + element + ">" + pattern + "</" + element + ">", times) +
               "<INCLUDE>/*</INCLUDE></POLICY-REF>";
    };
    const std::string manyStars = "/" + repeat("*a", 300) + "*b";      // each match linear
    const std::string longTail = "/*" + std::string(2000, 'a') + "b";  // its length per URL byte
    const struct {
        const char* about;
        std::string references;
        const char* policy;  // the path of the answer, or empty
    } cases[] = {
        {"hundreds of stars",
         policyRef("/excluded", "EXCLUDE", "/*", 1) +
             policyRef("/second", "EXCLUDE", manyStars, 3990),
         "/second"},
        {"long tails after a star: past the bound, no answer",
         policyRef("/first", "EXCLUDE", longTail, 1500), ""},
    };
    const Url page(loopback_.url("/" + std::string(10000, 'a')));
    for (const auto& c : cases) {
        ReferenceStore store(&cache_);
        const Url file(
            serve("<META><POLICY-REFERENCES>" + c.references + "</POLICY-REFERENCES></META>"));
        ASSERT_TRUE(store.loadReferenceFile(file, page)) << c.about;
        const auto start = steady_clock::now();
        const Url policy = store.lookupPolicy(page, "GET");
        EXPECT_LT(steady_clock::now() - start, kBound) << c.about;
        EXPECT_EQ(policy.str(), *c.policy ? loopback_.url(c.policy) : "") << c.about;
    }
}

// Schemas in another document that grow without end or multiply what they hold: the evaluation
// ends with the error of a schema that cannot be had, within bounded time and memory.
TEST_F(HostileServerTest, Schema_ExpandingSchemasEndWithTheirErrorInBoundedTimeAndMemory) {
    const std::string longField = std::string(1000, 'f');
    const std::string description = std::string(10000, 'd');
    const struct {
        const char* about;
        std::string schema;
        std::string name;
        std::size_t references;
        const char* error;
    } cases[] = {
        {"structures in a cycle",
         "<DATASCHEMA><DATA-STRUCT name='a.next' structref='#b'/>"
         "<DATA-STRUCT name='b.next' structref='#a'/><DATA-DEF name='loop' structref='#a'/>"
         "</DATASCHEMA>",
         "loop.next", 1, "Schema not found in policy :"},
        {"a structure twice in itself, long names and descriptions",
         "<DATASCHEMA><DATA-STRUCT name='a." + longField + "1' structref='#a' short-description='" +
             description + "'/><DATA-STRUCT name='a." + longField +
             "2' structref='#a' short-description='" + description +
             "'/><DATA-DEF name='tree' structref='#a'/></DATASCHEMA>",
         "tree", 1, "Schema not found in policy :"},
        {"a megabyte description for each of many references",
         "<DATASCHEMA><DATA-DEF name='big' short-description='" + std::string(1 << 20, 'd') +
             "'><CATEGORIES><online/></CATEGORIES></DATA-DEF></DATASCHEMA>",
         "big", 2000, "Data reference resolution exceeds its limits:"},
    };
    BaseDataSchema schema((test::dataDir() / BaseDataSchema::kFileName).string());
    const std::string rules = test::readFile(test::dataDir() / "appel-high.xml");
    for (const auto& c : cases) {
        const std::string reference = serve(c.schema) + "#" + c.name;
        const std::string policy = policyWith(
            "<STATEMENT><PURPOSE><current/></PURPOSE><RECIPIENT><ours/></RECIPIENT>"
            "<RETENTION><no-retention/></RETENTION><DATA-GROUP>" +
            repeat("<DATA ref='" + reference + "'/>", c.references) + "</DATA-GROUP></STATEMENT>");
        const long memoryBefore = peakResidentKilobytes();
        const auto start = steady_clock::now();
        MatchResult result;
        try {
            P3PEvaluator(&cache_, schema, buildSummary)
                .evaluatePolicy(rules, policy, Url(loopback_.url("/w3c/p3p.xml")), "p", result);
            ADD_FAILURE() << c.about << ": evaluated";
        } catch (const Error& error) {
            EXPECT_EQ(error.message().rfind(c.error, 0), 0u) << c.about << ": " << error.message();
        }
        EXPECT_LT(steady_clock::now() - start, kBound) << c.about;
        EXPECT_LT(peakResidentKilobytes() - memoryBefore, kMemoryBoundKilobytes) << c.about;
        EXPECT_EQ(result.state, kStateNotEvaluated) << c.about;
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
            P3PEvaluator(nullptr, schema, buildSummary)
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
