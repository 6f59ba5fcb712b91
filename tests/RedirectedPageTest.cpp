// Pages and frames that redirect, and documents with a BASE, checked headless as a browser would
// present them: each document is read where it ended and resolves against its own base.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <thread>

#include "LoopbackServer.h"
#include "TestSupport.h"
#include "browser/AgentServices.h"
#include "browser/HeadlessOwner.h"
#include "retrieval/P3PMatchInfo.h"
#include "retrieval/PageCheck.h"

namespace perchlight {
namespace {

using namespace perchlight::test;

std::string references(const std::string& policy) {
    return "<META><POLICY-REFERENCES><POLICY-REF about='" + policy +
           "'><INCLUDE>/*</INCLUDE></POLICY-REF></POLICY-REFERENCES></META>";
}

void serve(LoopbackServer& site, const std::string& path, const std::string& body,
           const char* type = "text/html") {
    site.server().Get(path, [=](const httplib::Request&, httplib::Response& response) {
        response.set_content(body, type);
    });
}

void redirect(LoopbackServer& site, const std::string& path, const std::string& location) {
    site.server().Get(path, [=](const httplib::Request&, httplib::Response& response) {
        response.set_redirect(location);
    });
}

// Two sites on two ports, so two origins, and the agent's services at the Medium level.
class RedirectedPageTest : public ::testing::Test {
  protected:
    RedirectedPageTest() {
        for (const char* file : {"BaseDataschema-std.xml", "appel-medium.xml"}) {
            std::filesystem::copy_file(dataDir() / file, home_ / file);
        }
        services_.setRuleSetFile((home_ / "appel-medium.xml").string());
    }

    // Loads the page as the browser would and checks the page that loaded.
    int check(HeadlessOwner& owner, const std::string& page) {
        owner.loadPage(Url(page), false);
        std::thread thread(runCheckThread, std::ref(owner), owner.pageUrl(), "");
        thread.join();
        return owner.verdict();
    }

    TempDir home_;
    AgentServices services_{home_.path().string()};
    P3PMatchInfo info_{services_.referenceStore(), services_.cache()};
    LoopbackServer framing_;
    LoopbackServer other_;
};

TEST_F(RedirectedPageTest, AFrameRedirectedToAnotherSiteIsCheckedThere) {
    serve(other_, "/g/new.html", "<img src='n.gif'>");
    serve(other_, "/w3c/p3p.xml", references("/w3c/policy.xml#retail"), "text/xml");
    serve(other_, "/w3c/policy.xml", readFile(dataDir() / "examples" / "marketing.xml"),
          "text/xml");
    other_.start();
    serve(framing_, "/w3c/p3p.xml", references("/w3c/policy.xml#basic"), "text/xml");
    serve(framing_, "/w3c/policy.xml", readFile(dataDir() / "examples" / "shop-basic.xml"),
          "text/xml");
    serve(framing_, "/index.html", "<iframe src='/fr/old.html'></iframe>");
    redirect(framing_, "/fr/old.html", other_.url("/g/new.html"));
    framing_.start();
    HeadlessOwner owner(info_);
    EXPECT_EQ(check(owner, framing_.url("/index.html")), kVerdictPartlyMatched);
    const Url frame(other_.url("/g/new.html"));
    const Url image(other_.url("/g/n.gif"));
    EXPECT_THAT(info_.embeddedUrls(), testing::UnorderedElementsAre(frame, image));
    EXPECT_EQ(info_.embeddedPolicyUrl(frame), Url(other_.url("/w3c/policy.xml#retail")));
    EXPECT_EQ(info_.embeddedState(frame), kStateConflict);
    EXPECT_EQ(info_.embeddedState(image), kStateConflict);
}

TEST_F(RedirectedPageTest, ARedirectedPageResolvesItsLinkWhereItEnded) {
    redirect(framing_, "/go", "/en/home.html");
    serve(framing_, "/en/home.html", "<link rel='P3Pv1' href='p3p/ref.xml'>");
    serve(framing_, "/en/p3p/ref.xml", references("/en/p3p/policy.xml#basic"), "text/xml");
    serve(framing_, "/en/p3p/policy.xml", readFile(dataDir() / "examples" / "shop-basic.xml"),
          "text/xml");
    framing_.start();
    HeadlessOwner owner(info_);
    EXPECT_EQ(check(owner, framing_.url("/go")), kVerdictMatched);
    EXPECT_EQ(owner.pageUrl(), Url(framing_.url("/en/home.html")));
    EXPECT_EQ(owner.linkPolicyReference(), Url(framing_.url("/en/p3p/ref.xml")));
    EXPECT_EQ(info_.mainResult().policyUrl, Url(framing_.url("/en/p3p/policy.xml")));
}

TEST_F(RedirectedPageTest, ABaseOnAnotherSiteIsTheBaseOfTheLinkAndTheItems) {
    serve(other_, "/assets/ref.xml", references("/assets/policy.xml#basic"), "text/xml");
    serve(other_, "/assets/policy.xml", readFile(dataDir() / "examples" / "shop-basic.xml"),
          "text/xml");
    other_.start();
    serve(framing_, "/index.html",
          "<head><base href='" + other_.url("/assets/") +
              "'><link rel='P3Pv1' href='ref.xml'></head><img src='logo.png'>");
    framing_.start();
    HeadlessOwner owner(info_);
    // The other site's reference file names its own pages only, so the page stays unknown.
    check(owner, framing_.url("/index.html"));
    EXPECT_EQ(owner.linkPolicyReference(), Url(other_.url("/assets/ref.xml")));
    EXPECT_EQ(info_.embeddedUrls(), std::vector<Url>{Url(other_.url("/assets/logo.png"))});
}

}  // namespace
}  // namespace perchlight
