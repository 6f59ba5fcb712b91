// `perchlight survey` run as a user runs it, against sites on loopback servers.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <vector>

#include "LoopbackServer.h"
#include "TestSupport.h"

namespace perchlight {
namespace {

namespace fs = std::filesystem;

std::string references(const std::string& about) {
    return "<META><POLICY-REFERENCES><POLICY-REF about='" + about +
           "'><INCLUDE>/*</INCLUDE></POLICY-REF></POLICY-REFERENCES></META>";
}

std::string example(const std::string& name) {
    return test::readFile(test::dataDir() / "examples" / name);
}

// Runs the tool to its end with the arguments; its exit status.
int runTool(const std::vector<std::string>& arguments, const fs::path& output) {
    std::string command = PERCHLIGHT_PROGRAM;
    for (const std::string& argument : arguments) {
        command += " '" + argument + "'";
    }
    command += " >'" + output.string() + "' 2>&1";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Starts the tool without waiting for it; its process id.
pid_t startTool(const std::vector<std::string>& arguments) {
    std::vector<std::string> all{PERCHLIGHT_PROGRAM};
    all.insert(all.end(), arguments.begin(), arguments.end());
    const pid_t child = fork();
    if (child == 0) {
        std::vector<char*> argv;
        for (std::string& argument : all) {
            argv.push_back(argument.data());
        }
        argv.push_back(nullptr);
        freopen("/dev/null", "w", stdout);
        freopen("/dev/null", "w", stderr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    return child;
}

std::vector<nlohmann::json> readRecords(const fs::path& path) {
    std::vector<nlohmann::json> records;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        records.push_back(nlohmann::json::parse(line));
    }
    return records;
}

void writeList(const fs::path& path, const std::vector<std::string>& addresses) {
    std::ofstream list(path);
    list << "# survey list of the test\n\n";
    for (const std::string& address : addresses) {
        list << address << "\n";
    }
}

// A request that is held until the test lets it go (or a bound passes).
class Hold {
  public:
    void wait() {
        std::unique_lock guard(lock_);
        arrived_ = true;
        changed_.notify_all();
        changed_.wait_for(guard, std::chrono::seconds(20), [this] { return released_; });
    }
    bool arrived() {
        std::lock_guard guard(lock_);
        return arrived_;
    }
    void release() {
        std::lock_guard guard(lock_);
        released_ = true;
        changed_.notify_all();
    }

  private:
    std::mutex lock_;
    std::condition_variable changed_;
    bool arrived_ = false;
    bool released_ = false;
};

// Each kind of site on a server of its own, so each is a site of its own.
class SurveyTest : public ::testing::Test {
  protected:
    SurveyTest() : home_({"BaseDataschema-std.xml", "appel-medium.xml"}) {}

    ~SurveyTest() override {
        slow_.release();
        held_.release();
    }

    test::LoopbackServer& site(const std::string& name) {
        auto& server = sites_[name];
        if (!server) {
            server = std::make_unique<test::LoopbackServer>();
        }
        return *server;
    }

    void serve(const std::string& name, const std::string& path, const std::string& body) {
        site(name).server().Get(path, [body](const httplib::Request&, httplib::Response& r) {
            r.set_content(body, "text/xml");
        });
    }

    void servePolicySite(const std::string& name, const std::string& about,
                         const std::string& policy) {
        serve(name, "/w3c/p3p.xml", references(about));
        serve(name, "/w3c/policy.xml", policy);
        serve(name, "/index.html", "<html><body><p>" + name + "</p></body></html>");
    }

    // The mixed sites; each name's page is "/index.html" of its own server.
    void setUpSites() {
        servePolicySite("matching", "/w3c/policy.xml#basic", example("shop-basic.xml"));
        servePolicySite("conflicting", "/w3c/policy.xml#retail", example("marketing.xml"));
        servePolicySite("malformed", "/w3c/policy.xml", example("malformed.xml"));
        servePolicySite("test", "/w3c/policy.xml", example("test-policy.xml"));
        servePolicySite("notxml", "/w3c/policy.xml", "<html><body><p>Not found<br></body></html>");
        std::string unresolvable = example("shop-basic.xml");
        unresolvable.replace(unresolvable.find("#dynamic.clickstream"), 20,
                             "http://127.0.0.1:1/schema.xml#dynamic.clickstream");
        servePolicySite("unresolvable", "/w3c/policy.xml#basic", unresolvable);
        serve("missing", "/w3c/p3p.xml", references("/w3c/gone.xml"));
        serve("missing", "/index.html", "<p>missing</p>");
        serve("nopolicy", "/index.html", "<p>no policy here</p>");
        serve("linkonly", "/p3p/refs.xml", references("/p3p/policy.xml#basic"));
        serve("linkonly", "/p3p/policy.xml", example("shop-basic.xml"));
        serve("linkonly", "/index.html",
              "<html><head><link rel='P3Pv1' href='/p3p/refs.xml'>"
              "</head><body>linked</body></html>");
        serve("headeronly", "/p3p/refs.xml", references("/p3p/policy.xml#basic"));
        serve("headeronly", "/p3p/policy.xml", example("shop-basic.xml"));
        site("headeronly")
            .server()
            .Get("/index.html", [](const httplib::Request&, httplib::Response& r) {
                r.set_header("P3P", "policyref=\"/p3p/refs.xml\"");
                r.set_content("<p>by header</p>", "text/html");
            });
        site("slow").server().Get("/index.html",
                                  [this](const httplib::Request&, httplib::Response& r) {
                                      slow_.wait();
                                      r.set_content("<p>late</p>", "text/html");
                                  });
        for (auto& [name, server] : sites_) {
            server->start();
        }
        site("redirecting")
            .server()
            .Get("/index.html", [this](const httplib::Request&, httplib::Response& r) {
                r.set_redirect(site("matching").url("/index.html"));
            });
        site("redirecting").start();
        site("looping").server().Get("/index.html",
                                     [this](const httplib::Request&, httplib::Response& r) {
                                         r.set_redirect(site("looping").url("/index.html"));
                                     });
        site("looping").start();
    }

    std::string page(const std::string& name) { return site(name).url("/index.html"); }

    test::ModuleHome home_;
    test::TempDir work_;
    Hold slow_;
    Hold held_;
    std::map<std::string, std::unique_ptr<test::LoopbackServer>> sites_;
};

TEST_F(SurveyTest, MixedSites_OneRecordEachWithVerdictAndErrorClass) {
    setUpSites();
    const std::map<std::string, std::pair<std::string, std::string>> expected = {
        {"matching", {"matched", ""}},
        {"conflicting", {"unmatched", ""}},
        {"redirecting", {"matched", ""}},
        {"looping", {"unknown", "transfer"}},
        {"nopolicy", {"unknown", "no-policy"}},
        {"malformed", {"unknown", "malformed-policy"}},
        {"test", {"unknown", "test-policy"}},
        {"notxml", {"unknown", "not-xml"}},
        {"unresolvable", {"unknown", "unresolvable-reference"}},
        {"missing", {"unknown", "http-status"}},
        {"slow", {"unknown", "timeout"}},
        {"linkonly", {"matched", ""}},
        {"headeronly", {"matched", ""}},
    };
    std::vector<std::string> addresses;
    std::map<std::string, std::string> nameOf;
    for (const auto& [name, outcome] : expected) {
        addresses.push_back(page(name));
        nameOf[page(name)] = name;
    }
    addresses.push_back("http://127.0.0.1:1/closed.html");
    nameOf["http://127.0.0.1:1/closed.html"] = "closed";
    writeList(work_ / "list.txt", addresses);
    const fs::path out = work_ / "out.jsonl";
    ASSERT_EQ(runTool({"survey", (work_ / "list.txt").string(), "--out", out.string(), "--jobs",
                       "4", "--timeout", "2"},
                      work_ / "log.txt"),
              0)
        << test::readFile(work_ / "log.txt");
    const std::vector<nlohmann::json> records = readRecords(out);
    ASSERT_EQ(records.size(), addresses.size());
    std::set<std::string> seen;
    for (const nlohmann::json& record : records) {
        const std::string url = record["url"];
        ASSERT_TRUE(seen.insert(url).second) << url;
        const std::string name = nameOf.at(url);
        if (name == "closed") {
            EXPECT_EQ(record["error"], "connect");
            continue;
        }
        EXPECT_EQ(record["verdict"], expected.at(name).first) << name;
        EXPECT_EQ(record["error"], expected.at(name).second) << name;
    }
    for (const nlohmann::json& record : records) {
        const std::string name = nameOf.at(record["url"]);
        if (name == "redirecting") {
            EXPECT_EQ(record["final_url"], page("matching"));
            // Known when the matching site's own check loaded its reference file first.
            EXPECT_TRUE(record["route"] == "well-known" || record["route"] == "known");
        } else if (name == "missing") {
            EXPECT_EQ(record["http_status"], 404);
            // The page, its reference file and the missing policy, each once: the reason is
            // told from what the check got.
            EXPECT_EQ(record["requests"], 3);
        } else if (name == "notxml") {
            EXPECT_EQ(record["requests"], 3);
        } else if (name == "conflicting") {
            EXPECT_FALSE(record["rules"].empty());
            EXPECT_EQ(record["policy"], site("conflicting").url("/w3c/policy.xml"));
        } else if (name == "linkonly") {
            EXPECT_EQ(record["route"], "link");
        } else if (name == "headeronly") {
            EXPECT_EQ(record["route"], "header");
            // The page's own answer gives its header: the page, the reference file it names and
            // the policy, and the well-known location tried first.
            EXPECT_EQ(record["requests"], 4);
        } else if (name == "nopolicy") {
            EXPECT_EQ(record["requests"], 2);
        } else if (name == "matching") {
            EXPECT_EQ(record["route"], "well-known");
            // Its page and well-known location at least; the policy is counted by whichever of
            // this check and the redirecting site's (the same page) fetched it first.
            EXPECT_GE(record["requests"], 2);
        }
    }
    // The report of the finished output, as text and as a page without scripts.
    ASSERT_EQ(runTool({"survey", "--report", out.string()}, work_ / "report.txt"), 0);
    const std::string report = test::readFile(work_ / "report.txt");
    EXPECT_NE(report.find("Survey of 14 sites"), std::string::npos) << report;
    EXPECT_NE(report.find("no-policy"), std::string::npos);
    EXPECT_NE(report.find("http-status 404"), std::string::npos);
    const std::string html = test::readFile(out.string() + ".html");
    EXPECT_NE(html.find("<svg"), std::string::npos);
    EXPECT_EQ(html.find("<script"), std::string::npos);
}

TEST_F(SurveyTest, Resume_AfterAKillRecordsEveryAddressOnce) {
    serve("matching", "/w3c/p3p.xml", references("/w3c/policy.xml#basic"));
    serve("matching", "/w3c/policy.xml", example("shop-basic.xml"));
    site("matching")
        .server()
        .Get(R"(/page/(\d+)\.html)", [this](const httplib::Request& request, httplib::Response& r) {
            if (request.matches[1] == "5") {
                held_.wait();
            }
            r.set_content("<p>page</p>", "text/html");
        });
    site("matching").start();
    std::vector<std::string> addresses;
    for (int i = 0; i < 10; ++i) {
        addresses.push_back(site("matching").url("/page/" + std::to_string(i) + ".html"));
    }
    writeList(work_ / "list.txt", addresses);
    const fs::path out = work_ / "out.jsonl";
    const std::vector<std::string> arguments{
        "survey", (work_ / "list.txt").string(), "--out", out.string(), "--jobs", "1"};
    const pid_t survey = startTool(arguments);
    ASSERT_GT(survey, 0);
    for (int i = 0; i < 20000 && !held_.arrived(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_TRUE(held_.arrived());
    kill(survey, SIGKILL);
    waitpid(survey, nullptr, 0);
    held_.release();
    EXPECT_EQ(readRecords(out).size(), 5u);
    {
        std::ofstream torn(out, std::ios::app);
        torn << "{\"url\":\"" << addresses[5] << "\",\"verd";  // a line cut off mid-write
    }
    ASSERT_EQ(runTool({"survey", (work_ / "list.txt").string(), "--out", out.string(), "--resume"},
                      work_ / "log.txt"),
              0)
        << test::readFile(work_ / "log.txt");
    std::multiset<std::string> recorded;
    for (const nlohmann::json& record : readRecords(out)) {
        recorded.insert(record["url"].get<std::string>());
        EXPECT_EQ(record["verdict"], "matched");
    }
    EXPECT_EQ(recorded, std::multiset<std::string>(addresses.begin(), addresses.end()));
}

TEST_F(SurveyTest, Shard_ThreeShardsCoverTheListOnce) {
    std::vector<std::string> addresses;
    for (int i = 0; i < 30; ++i) {
        addresses.push_back("http://127.0.0.1:1/" + std::to_string(i) + ".html");
    }
    addresses.push_back("host.without.scheme.localhost");
    writeList(work_ / "list.txt", addresses);
    std::multiset<std::string> recorded;
    std::vector<std::size_t> sizes;
    for (int shard = 0; shard < 3; ++shard) {
        const fs::path out = work_ / ("shard" + std::to_string(shard) + ".jsonl");
        ASSERT_EQ(runTool({"survey", (work_ / "list.txt").string(), "--out", out.string(),
                           "--shard", std::to_string(shard) + "/3"},
                          work_ / "log.txt"),
                  0)
            << test::readFile(work_ / "log.txt");
        const std::vector<nlohmann::json> records = readRecords(out);
        sizes.push_back(records.size());
        for (const nlohmann::json& record : records) {
            recorded.insert(record["url"].get<std::string>());
        }
    }
    addresses.back() = "http://host.without.scheme.localhost/";
    EXPECT_EQ(recorded, std::multiset<std::string>(addresses.begin(), addresses.end()));
    for (std::size_t size : sizes) {
        EXPECT_GT(size, 0u);  // the hash spreads the list over every shard
    }
    EXPECT_EQ(
        runTool({"survey", (work_ / "list.txt").string(), "--shard", "3/3"}, work_ / "log.txt"),
        64);
}

TEST_F(SurveyTest, Csv_HeaderRowsResumeAndReport) {
    writeList(work_ / "list.txt", {"http://127.0.0.1:1/a.html", "http://127.0.0.1:1/b,\"c\".html",
                                   "ftp://127.0.0.1:1/d"});
    const fs::path out = work_ / "out.csv";
    const std::vector<std::string> arguments{"survey", (work_ / "list.txt").string(), "--out",
                                             out.string(), "--csv"};
    ASSERT_EQ(runTool(arguments, work_ / "log.txt"), 0) << test::readFile(work_ / "log.txt");
    std::vector<std::string> resumed = arguments;
    resumed.push_back("--resume");
    ASSERT_EQ(runTool(resumed, work_ / "log.txt"), 0);  // everything is recorded already
    std::istringstream lines(test::readFile(out));
    std::vector<std::string> rows;
    for (std::string line; std::getline(lines, line);) {
        rows.push_back(line);
    }
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[0].rfind("url,final_url,verdict,", 0), 0u);
    ASSERT_EQ(
        runTool({"survey", "--report", out.string(), "--html", (work_ / "report.html").string()},
                work_ / "report.txt"),
        0);
    const std::string report = test::readFile(work_ / "report.txt");
    EXPECT_NE(report.find("Survey of 3 sites"), std::string::npos) << report;
    EXPECT_NE(report.find("connect"), std::string::npos);
    EXPECT_NE(report.find("bad-address"), std::string::npos);
    const std::string html = test::readFile(work_ / "report.html");
    EXPECT_NE(html.find("b,&quot;c&quot;.html"), std::string::npos);
}

TEST_F(SurveyTest, Csv_CompactPolicyColumnsSurviveAResume) {
    servePolicySite("matching", "/w3c/policy.xml#basic", example("shop-basic.xml"));
    serve("compact", "/w3c/p3p.xml", references("/w3c/policy.xml#basic"));
    serve("compact", "/w3c/policy.xml", example("shop-basic.xml"));
    site("compact").server().Get("/index.html", [](const httplib::Request&, httplib::Response& r) {
        r.set_header("P3P", "CP=\"NOI CURa OUR STP NAV\"");
        r.set_content("<p>compact</p>", "text/html");
    });
    site("matching").start();
    site("compact").start();
    const fs::path out = work_ / "out.csv";
    writeList(work_ / "list.txt", {page("compact")});
    ASSERT_EQ(runTool({"survey", (work_ / "list.txt").string(), "--out", out.string(), "--csv"},
                      work_ / "log.txt"),
              0)
        << test::readFile(work_ / "log.txt");
    writeList(work_ / "list.txt", {page("compact"), page("matching")});
    ASSERT_EQ(runTool({"survey", (work_ / "list.txt").string(), "--out", out.string(), "--csv",
                       "--resume"},
                      work_ / "log.txt"),
              0)
        << test::readFile(work_ / "log.txt");
    const std::string csv = test::readFile(out);
    EXPECT_NE(csv.find(",200,\"NOI CURa OUR STP NAV\",\"unknown-token CURa"), std::string::npos)
        << csv;
    ASSERT_EQ(runTool({"survey", "--report", out.string()}, work_ / "report.txt"), 0);
    const std::string report = test::readFile(work_ / "report.txt");
    EXPECT_NE(report.find("Survey of 2 sites"), std::string::npos) << report;
    EXPECT_NE(report.find("Compact policies: 1 of 2 sites send one, 0 valid, 1 with problems"),
              std::string::npos)
        << report;
    EXPECT_NE(report.find("CURa"), std::string::npos) << report;
}

}  // namespace
}  // namespace perchlight
