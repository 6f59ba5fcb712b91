#include "host/HostSession.h"

#include <gtest/gtest.h>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <condition_variable>
#include <cstring>
#include <mutex>
#include <set>

#include "LoopbackServer.h"
#include "PreferenceTestEnvironment.h"
#include "TestSupport.h"
#include "browser/AgentServices.h"
#include "host/SocketBroadcast.h"
#include "prefs/P3PPreferences.h"
#include "prefs/RegistryKey.h"

namespace perchlight {
namespace {

using nlohmann::json;

// The replies of a session, in the order they left; a test waits for the one it wants.
class CollectingSink : public ReplySink {
  public:
    void send(std::string_view reply) override {
        std::lock_guard guard(lock_);
        replies_.push_back(json::parse(reply));
        arrived_.notify_all();
    }
    // The reply to the id; fails the test when none comes within a bound no healthy host nears.
    json waitFor(const json& id) {
        std::unique_lock guard(lock_);
        json found;
        const bool came = arrived_.wait_for(guard, std::chrono::seconds(30), [&] {
            for (const json& reply : replies_) {
                if (reply["id"] == id) {
                    found = reply;
                    return true;
                }
            }
            return false;
        });
        EXPECT_TRUE(came) << "no reply to " << id;
        return found;
    }
    std::vector<json> replies() {
        std::lock_guard guard(lock_);
        return replies_;
    }
    // Where the reply to the id stands among all replies; -1 when it has not come.
    int position(const json& id) {
        std::lock_guard guard(lock_);
        for (std::size_t i = 0; i < replies_.size(); ++i) {
            if (replies_[i]["id"] == id) {
                return static_cast<int>(i);
            }
        }
        return -1;
    }

  private:
    std::mutex lock_;
    std::condition_variable arrived_;
    std::vector<json> replies_;
};

// A site that never answers until the test lets it go.
class Stall {
  public:
    void wait() {
        std::unique_lock guard(lock_);
        released_.wait(guard, [&] { return open_; });
    }
    void release() {
        std::lock_guard guard(lock_);
        open_ = true;
        released_.notify_all();
    }

  private:
    std::mutex lock_;
    std::condition_variable released_;
    bool open_ = false;
};

std::filesystem::path demoSite(const std::string& name) {
    return std::filesystem::path(PERCHLIGHT_SOURCE_DIR) / "examples" / "sites" / name;
}

// The demo sites "matching" and "conflicting" on loopback servers of their own, a stalled site,
// and one session over a fresh module directory at the Medium level.
class HostSessionTest : public ::testing::Test {
  protected:
    HostSessionTest() {
        environment_.installRuleSets();
        for (const char* name :
             {"BaseDataschema-std.xml", "template-page.html", "template-statement.html"}) {
            std::filesystem::copy_file(test::dataDir() / name, environment_.homeFile(name));
        }
        RegistryKey::create(RegistryKey::kPerchlightKey);
        for (auto& [server, name] :
             {std::pair{&matching_, "matching"}, std::pair{&conflicting_, "conflicting"}}) {
            server->server().set_mount_point("/", demoSite(name).string());
        }
        stalled_.server().Get(".*", [this](const httplib::Request&, httplib::Response& response) {
            stall_.wait();
            response.status = 404;
        });
        newsletter_.server().Get("/w3c/p3p.xml", [](const httplib::Request&, httplib::Response& r) {
            r.set_content(
                "<META><POLICY-REFERENCES><POLICY-REF about='/w3c/policy.xml#news'>"
                "<INCLUDE>/*</INCLUDE></POLICY-REF></POLICY-REFERENCES></META>",
                "text/xml");
        });
        newsletter_.server().Get(
            "/w3c/policy.xml", [](const httplib::Request&, httplib::Response& r) {
                r.set_content(test::readFile(test::dataDir() / "examples" / "newsletter.xml"),
                              "text/xml");
            });
        newsletter_.server().Get("/index.html", [](const httplib::Request&, httplib::Response& r) {
            r.set_content("<p>news</p>", "text/html");
        });
        matching_.start();
        newsletter_.start();
        conflicting_.start();
        stalled_.start();
        services_ = std::make_unique<AgentServices>(environment_.home());
        services_->preferences().loadPreferences();
        session_ = std::make_unique<HostSession>(*services_, sink_);
    }
    ~HostSessionTest() override {
        stall_.release();
        session_.reset();
        test::transfersEnd();
    }

    void send(const json& request) { session_->handleMessage(request.dump()); }
    json ask(const json& request) {
        send(request);
        return sink_.waitFor(request["id"]);
    }
    static json pageOf(const json& id, int tab, const std::string& url,
                       json elements = json::array()) {
        return json{{"id", id},
                    {"type", "page"},
                    {"tab", tab},
                    {"url", url},
                    {"header", ""},
                    {"documents", json::array({json{{"url", url},
                                                    {"framePath", json::array()},
                                                    {"childFrames", 0},
                                                    {"elements", elements}}})}};
    }

    test::PreferenceTestEnvironment environment_;
    test::LoopbackServer matching_;
    test::LoopbackServer conflicting_;
    test::LoopbackServer newsletter_;  // its policy satisfies Medium, not High
    test::LoopbackServer stalled_;
    Stall stall_;
    CollectingSink sink_;
    std::unique_ptr<AgentServices> services_;
    std::unique_ptr<HostSession> session_;
};

TEST_F(HostSessionTest, Page_MatchingSiteGivesTheMatchedBird) {
    const json reply = ask(pageOf(1, 5, matching_.url("/index.html"),
                                  json::array({json{{"tag", "IMG"}, {"src", "logo.svg"}}})));
    ASSERT_TRUE(reply["ok"].get<bool>()) << reply;
    EXPECT_EQ(reply["verdict"], "matched");
    EXPECT_EQ(reply["picture"], 0);
    EXPECT_EQ(reply["policy"], matching_.url("/w3c/policy.xml"));
    EXPECT_NE(reply["title"].get<std::string>(), "Valid policy not found");
    ASSERT_EQ(reply["items"].size(), 1u);
    EXPECT_EQ(reply["items"][0]["url"], matching_.url("/logo.svg"));
    EXPECT_EQ(reply["items"][0]["state"], "matched");
    EXPECT_EQ(reply["items"][0]["type"], "Image");
}

TEST_F(HostSessionTest, Page_ConflictingSiteGivesTheUnmatchedBirdAndItsRules) {
    const json reply = ask(pageOf("c", 6, conflicting_.url("/index.html")));
    ASSERT_TRUE(reply["ok"].get<bool>()) << reply;
    EXPECT_EQ(reply["verdict"], "unmatched");
    EXPECT_EQ(reply["picture"], 6);
    ASSERT_FALSE(reply["rules"].empty());
    EXPECT_TRUE(reply["rules"][0]["description"].is_string());
    // Each rule says which statement made it fire, in data and in one line of plain words.
    const auto& statements = reply["rules"][0]["statements"];
    ASSERT_FALSE(statements.empty());
    EXPECT_GE(statements[0]["statement"].get<int>(), 0);
    EXPECT_NE(statements[0]["line"].get<std::string>().find("statement"), std::string::npos);
}

TEST_F(HostSessionTest, Page_BrowserReportedHeadersGiveTheCompactPolicies) {
    json request = pageOf(1, 5, matching_.url("/index.html"),
                          json::array({json{{"tag", "IMG"}, {"src", "logo.svg"}}}));
    request["header"] = "policyref=\"/nowhere.xml\", CP=\"NOI CURa OUR STP NAV TEL <b>\"";
    request["responses"] = json::array(
        {json{{"url", matching_.url("/logo.svg")}, {"header", "CP=\"NOI CUR OUR STP NAV\""}},
         json{{"url", matching_.url("/style.css")}, {"header", "policyref=\"/p.xml\""}}});
    const json reply = ask(request);
    ASSERT_TRUE(reply["ok"].get<bool>()) << reply;
    // The compact policy changes no verdict, and the reported policyref names no policy.
    EXPECT_EQ(reply["verdict"], "matched");
    EXPECT_EQ(reply["policy"], matching_.url("/w3c/policy.xml"));
    const json& compact = reply["compactPolicies"];
    ASSERT_EQ(compact.size(), 2u) << reply;
    EXPECT_EQ(compact[0]["url"], matching_.url("/index.html"));
    EXPECT_EQ(compact[0]["cp"], "NOI CURa OUR STP NAV TEL <b>");
    EXPECT_FALSE(compact[0]["valid"].get<bool>());
    std::set<std::string> problems;
    for (const json& problem : compact[0]["cp_problems"]) {
        problems.insert(problem["class"].get<std::string>() + " " +
                        problem["token"].get<std::string>());
        EXPECT_FALSE(problem["text"].get<std::string>().empty());
    }
    EXPECT_TRUE(problems.contains("unknown-token CURa")) << compact[0];
    std::set<std::string> mismatches;
    for (const json& mismatch : compact[0]["cp_mismatches"]) {
        mismatches.insert(mismatch["class"].get<std::string>() + " " +
                          mismatch["token"].get<std::string>());
    }
    EXPECT_TRUE(mismatches.contains("unsupported TEL")) << compact[0];
    EXPECT_EQ(compact[1]["url"], matching_.url("/logo.svg"));
    EXPECT_TRUE(compact[1]["valid"].get<bool>()) << compact[1];
    // The summary page shows the page's compact policy, its site text escaped.
    const json summary = ask(json{{"id", 2}, {"type", "summary"}, {"tab", 5}});
    const std::string html = summary["html"].get<std::string>();
    EXPECT_NE(html.find("NOI CURa OUR STP NAV TEL &lt;b&gt;"), std::string::npos) << html;
    EXPECT_EQ(html.find("TEL <b>"), std::string::npos);
}

TEST_F(HostSessionTest, Page_WithoutReportedHeadersHasNoCompactPolicyOfItsOwn) {
    const json reply = ask(pageOf(1, 5, matching_.url("/index.html")));
    ASSERT_TRUE(reply["ok"].get<bool>()) << reply;
    ASSERT_TRUE(reply["compactPolicies"].is_array()) << reply;
    EXPECT_TRUE(reply["compactPolicies"].empty()) << reply;
}

TEST_F(HostSessionTest, Page_FrameWithoutPolicyGivesPartlyMatched) {
    json request = pageOf(2, 7, matching_.url("/index.html"),
                          json::array({json{{"tag", "IFRAME"}, {"src", stalled_.url("/ad")}}}));
    stall_.release();  // the frame's site answers, with nothing
    request["documents"].push_back(json{{"url", stalled_.url("/ad")},
                                        {"framePath", json::array({0})},
                                        {"elements", json::array()}});
    const json reply = ask(request);
    EXPECT_EQ(reply["verdict"], "partly matched") << reply;
    EXPECT_EQ(reply["picture"], 1);
}

TEST_F(HostSessionTest, Page_LevelChangedByAnotherProcessHoldsForTheNextCheck) {
    EXPECT_EQ(ask(pageOf(1, 1, newsletter_.url("/index.html")))["verdict"], "matched");
    // What `perchlight level high` does in its own process.
    {
        P3PPreferences other(environment_.home());
        other.loadPreferences();
        other.setPrivacyLevel(PrivacyLevel::kLevelHigh);
        other.saveSettings();
    }
    EXPECT_EQ(ask(pageOf(2, 1, newsletter_.url("/index.html")))["verdict"], "unmatched");
}

TEST_F(HostSessionTest, Page_DisabledInAnotherProcessGivesTheSleepingBirdWithoutACheck) {
    {
        P3PPreferences other(environment_.home());
        other.loadPreferences();
        BirdSettings::enabled = false;
        other.saveSettings();
        BirdSettings::enabled = true;
    }
    const json reply = ask(pageOf(1, 1, stalled_.url("/index.html")));
    EXPECT_TRUE(reply["ok"].get<bool>()) << "answered at once: the stalled site was never asked";
    EXPECT_EQ(reply["picture"], 8);
    EXPECT_FALSE(reply["enabled"].get<bool>());
    EXPECT_EQ(reply["title"], "Click here to use Perchlight");
    const json enabled = ask(json{{"id", 2}, {"type", "settings.set"}, {"enabled", true}});
    EXPECT_TRUE(enabled["enabled"].get<bool>());
    EXPECT_EQ(ask(pageOf(3, 1, matching_.url("/index.html")))["picture"], 0);
}

TEST_F(HostSessionTest, Concurrency_StalledTabNeverDelaysAnotherTabsReply) {
    send(pageOf("slow", 1, stalled_.url("/index.html")));
    const json fast = ask(pageOf("fast", 2, matching_.url("/index.html")));
    EXPECT_EQ(fast["verdict"], "matched");
    EXPECT_EQ(sink_.position("slow"), -1);
    stall_.release();
    const json slow = sink_.waitFor("slow");
    EXPECT_EQ(slow["verdict"], "unknown") << slow;
    EXPECT_LT(sink_.position("fast"), sink_.position("slow"));
}

TEST_F(HostSessionTest, Cancel_NewPageInTheSameTabCancelsTheRunningCheck) {
    send(pageOf(1, 3, stalled_.url("/index.html")));
    const json second = ask(pageOf(2, 3, matching_.url("/index.html")));
    const json first = sink_.waitFor(1);
    EXPECT_FALSE(first["ok"].get<bool>());
    EXPECT_EQ(first["error"], "cancelled");
    EXPECT_EQ(second["verdict"], "matched");
    stall_.release();
    // The cancelled check answers once only.
    session_->finish();
    int answers = 0;
    for (const json& reply : sink_.replies()) {
        answers += reply["id"] == 1 ? 1 : 0;
    }
    EXPECT_EQ(answers, 1);
}

TEST_F(HostSessionTest, Cancel_NavigateAndCloseCancelTheTabsCheck) {
    send(pageOf(1, 4, stalled_.url("/index.html")));
    EXPECT_TRUE(ask(json{{"id", 2}, {"type", "navigate"}, {"tab", 4}})["ok"].get<bool>());
    EXPECT_EQ(sink_.waitFor(1)["error"], "cancelled");
    send(pageOf(3, 8, stalled_.url("/other.html")));
    EXPECT_TRUE(ask(json{{"id", 4}, {"type", "closed"}, {"tab", 8}})["ok"].get<bool>());
    EXPECT_EQ(sink_.waitFor(3)["error"], "cancelled");
    EXPECT_EQ(ask(json{{"id", 5}, {"type", "summary"}, {"tab", 8}})["error"],
              "no finished check for tab 8");
}

TEST_F(HostSessionTest, End_FinishDuringAStalledCheckStopsItAndSaves) {
    send(pageOf(1, 9, stalled_.url("/index.html")));
    session_->finish();  // the browser closed: no release of the stalled site is needed
    EXPECT_EQ(session_->activeRuns(), 0u);
    EXPECT_EQ(sink_.waitFor(1)["error"], "cancelled");
    EXPECT_TRUE(std::filesystem::exists(environment_.homeFile("cache") / "cacheindex.xml") ||
                std::filesystem::exists(environment_.homeFile("cacheindex.xml")));
}

TEST_F(HostSessionTest, Summary_ShowsSiteTextEscapedAndSourceIsThePolicy) {
    ask(pageOf(1, 2, conflicting_.url("/index.html")));
    const json summary = ask(json{{"id", 2}, {"type", "summary"}, {"tab", 2}});
    ASSERT_TRUE(summary["ok"].get<bool>()) << summary;
    EXPECT_NE(summary["html"].get<std::string>().find("<html"), std::string::npos);
    const json source = ask(json{{"id", 3}, {"type", "source"}, {"tab", 2}});
    ASSERT_TRUE(source["ok"].get<bool>()) << source;
    EXPECT_EQ(source["text"], test::readFile(demoSite("conflicting") / "w3c" / "policy.xml"));
}

TEST_F(HostSessionTest, Form_ConflictingTargetWarnsMatchingDoesNot) {
    const json warn =
        ask(json{{"id", 1}, {"type", "form"}, {"tab", 1}, {"target", conflicting_.url("/buy")}});
    EXPECT_TRUE(warn["warn"].get<bool>()) << warn;
    EXPECT_EQ(warn["message"], "The privacy policy of this form does not match your preferences.");
    const json quiet =
        ask(json{{"id", 2}, {"type", "form"}, {"tab", 1}, {"target", matching_.url("/buy")}});
    EXPECT_FALSE(quiet["warn"].get<bool>()) << quiet;
    const json other =
        ask(json{{"id", 3}, {"type", "form"}, {"tab", 1}, {"target", "javascript:alert(1)"}});
    EXPECT_TRUE(other["warn"].get<bool>());
    EXPECT_EQ(other["message"], "No privacy policy can be found for this form.");
}

TEST_F(HostSessionTest, Form_NoPromptSiteIsNotWarnedAbout) {
    const json added =
        ask(json{{"id", 1}, {"type", "noprompt.add"}, {"site", conflicting_.url("/any/page")}});
    ASSERT_TRUE(added["ok"].get<bool>()) << added;
    EXPECT_EQ(added["sites"], json::array({conflicting_.url("/")}));
    EXPECT_FALSE(ask(json{
        {"id", 2}, {"type", "form"}, {"tab", 1}, {"target", conflicting_.url("/buy")}})["warn"]
                     .get<bool>());
    const json removed =
        ask(json{{"id", 3}, {"type", "noprompt.remove"}, {"site", conflicting_.url("/")}});
    EXPECT_TRUE(removed["sites"].empty()) << removed;
}

TEST_F(HostSessionTest, Settings_SetIsSavedAndABadFieldChangesNothing) {
    const json set = ask(json{{"id", 1},
                              {"type", "settings.set"},
                              {"level", "high"},
                              {"warnForms", false},
                              {"sounds", false}});
    ASSERT_TRUE(set["ok"].get<bool>()) << set;
    EXPECT_EQ(set["level"], "high");
    EXPECT_FALSE(set["warnForms"].get<bool>());
    {
        P3PPreferences other(environment_.home());
        other.loadPreferences();
        EXPECT_EQ(other.privacyLevel(), PrivacyLevel::kLevelHigh);
        EXPECT_TRUE(other.dontWarnOnForms());
    }
    const json bad = ask(json{{"id", 2},
                              {"type", "settings.set"},
                              {"level", "low"},
                              {"custom", json::array({true, false})}});
    EXPECT_FALSE(bad["ok"].get<bool>());
    EXPECT_NE(bad["error"].get<std::string>().find("custom"), std::string::npos);
    EXPECT_EQ(ask(json{{"id", 3}, {"type", "settings.get"}})["level"], "high");
}

TEST_F(HostSessionTest, Settings_ChangesAreAnnouncedToTheQtAgentsSockets) {
    // A Qt agent process listening in the broadcast folder, as ui/LocalBroadcast does.
    const test::TempDir runtime;
    const std::filesystem::path folder = runtime / "perchlight";
    std::filesystem::create_directory(folder);
    const std::string path = (folder / "4242").string();
    const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener, 8), 0);
    SocketBroadcast broadcast(folder.string());
    session_->setBroadcast(&broadcast);

    ASSERT_TRUE(ask(json{{"id", 1}, {"type", "settings.set"}, {"enabled", false}})["ok"]);
    ASSERT_TRUE(ask(json{{"id", 2}, {"type", "noprompt.add"}, {"site", matching_.url("/")}})["ok"]);
    std::string lines;
    for (int i = 0; i < 3; ++i) {
        pollfd ready{listener, POLLIN, 0};
        ASSERT_EQ(::poll(&ready, 1, 10000), 1);
        const int connection = ::accept(listener, nullptr, nullptr);
        char buffer[64];
        const ssize_t count = ::read(connection, buffer, sizeof buffer);
        lines.append(buffer, static_cast<std::size_t>(std::max<ssize_t>(count, 0)));
        ::close(connection);
    }
    ::close(listener);
    EXPECT_EQ(lines, "32804\n32793\n32805\n");
}

TEST_F(HostSessionTest, Settings_ImportBadTextFailsGoodTextSelectsImported) {
    const json bad = ask(json{{"id", 1}, {"type", "import"}, {"text", "<html>no</html>"}});
    EXPECT_FALSE(bad["ok"].get<bool>());
    EXPECT_EQ(ask(json{{"id", 2}, {"type", "settings.get"}})["level"], "medium");
    const std::string ruleSet = test::readFile(test::dataDir() / "appel-low.xml");
    const json good = ask(json{{"id", 3}, {"type", "import"}, {"text", ruleSet}});
    ASSERT_TRUE(good["ok"].get<bool>()) << good;
    EXPECT_EQ(good["level"], "imported");
    EXPECT_EQ(ask(json{{"id", 4}, {"type", "export"}})["text"], ruleSet);
}

struct BadPage {
    const char* name;
    json change;  // merged into a good page request
    const char* error;
};

void PrintTo(const BadPage& bad, std::ostream* out) {
    *out << bad.name;
}

class HostSession_BadPage : public HostSessionTest,
                            public ::testing::WithParamInterface<BadPage> {};

TEST_P(HostSession_BadPage, IsAnsweredWithTheFieldAndTheHostGoesOn) {
    json request = pageOf(1, 1, matching_.url("/index.html"));
    request.merge_patch(GetParam().change);
    const json reply = ask(request);
    EXPECT_FALSE(reply["ok"].get<bool>());
    EXPECT_NE(reply["error"].get<std::string>().find(GetParam().error), std::string::npos) << reply;
    EXPECT_TRUE(ask(json{{"id", 2}, {"type", "settings.get"}})["ok"].get<bool>());
}

INSTANTIATE_TEST_SUITE_P(
    Table, HostSession_BadPage,
    ::testing::Values(
        BadPage{"NoTab", {{"tab", nullptr}}, "missing field: tab"},
        BadPage{"NegativeTab", {{"tab", -3}}, "field tab: out of range"},
        BadPage{"FileUrl", {{"url", "file:///etc/passwd"}}, "field url"},
        BadPage{"NoDocuments", {{"documents", nullptr}}, "missing field: documents"},
        BadPage{"DocumentsNotList", {{"documents", "x"}}, "field documents: not an array"},
        BadPage{"DocumentNotObject", {{"documents", {1}}}, "field documents[0]: not an object"},
        BadPage{"DocumentWithoutUrl",
                {{"documents", {{{"framePath", json::array()}, {"elements", json::array()}}}}},
                "missing field: documents[0].url"},
        BadPage{"BadFramePath",
                {{"documents",
                  {{{"url", "about:blank"}, {"framePath", {"a"}}, {"elements", json::array()}}}}},
                "documents[0].framePath"},
        BadPage{"ElementWithoutTag",
                {{"documents",
                  {{{"url", "about:blank"},
                    {"framePath", json::array()},
                    {"elements", {{{"src", "x"}}}}}}}},
                "missing field: documents[0].elements[0].tag"},
        BadPage{"LongAttribute",
                {{"documents",
                  {{{"url", "about:blank"},
                    {"framePath", json::array()},
                    {"elements", {{{"tag", "IMG"}, {"src", std::string(9000, 'a')}}}}}}}},
                "documents[0].elements[0].src: longer than"},
        BadPage{"HeaderNotString", {{"header", 5}}, "field header: not a string"},
        BadPage{"ResponsesNotList", {{"responses", "x"}}, "field responses: not an array"},
        BadPage{"ResponseNotObject", {{"responses", {1}}}, "field responses[0]: not an object"},
        BadPage{"ResponseFileUrl",
                {{"responses", {{{"url", "file:///etc/passwd"}, {"header", "CP=\"NOI\""}}}}},
                "field responses[0].url: not an http or https address"},
        BadPage{"ResponseWithoutHeader",
                {{"responses", {{{"url", "http://127.0.0.1/a.png"}}}}},
                "missing field: responses[0].header"},
        BadPage{"ResponseLongHeader",
                {{"responses",
                  {{{"url", "http://127.0.0.1/a.png"}, {"header", std::string(9000, 'a')}}}}},
                "responses[0].header: longer than"},
        BadPage{"TooManyResponses",
                {{"responses",
                  json(std::vector<json>(kMaxResponses + 1, json{{"url", "http://127.0.0.1/a.png"},
                                                                 {"header", ""}}))}},
                "field responses: more than 63 entries"}),
    [](const ::testing::TestParamInfo<BadPage>& info) { return info.param.name; });

TEST_F(HostSessionTest, Requests_UnknownTypeAndFramingFaultsAreAnswered) {
    EXPECT_EQ(ask(json{{"id", 1}, {"type", "format.disk"}})["error"], "unknown type: format.disk");
    session_->handleFrame(Frame{Frame::Kind::kEmpty, "", 0});
    session_->handleFrame(Frame{Frame::Kind::kTooLarge, "", 5000000});
    session_->handleMessage("{\"id\": 3, ");
    const std::vector<json> replies = sink_.replies();
    ASSERT_EQ(replies.size(), 4u);
    EXPECT_EQ(replies[1]["error"], "empty message");
    EXPECT_EQ(replies[2]["error"], "message too large: 5000000 bytes (limit 4194304)");
    EXPECT_TRUE(replies[3]["id"].is_null());
    EXPECT_NE(replies[3]["error"].get<std::string>().find("malformed JSON"), std::string::npos);
}

}  // namespace
}  // namespace perchlight
