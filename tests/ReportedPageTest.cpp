#include "browser/ReportedPage.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <ostream>

#include "TestSupport.h"

namespace perchlight {

namespace {

ElementFacts element(const std::string& tag, const std::string& src, const std::string& rel = "",
                     const std::string& href = "") {
    return {tag, src, "", "", rel, href};
}

TEST(ReportedPage, ListsFramesAtTheirCurrentLocationEachBeforeItsOwnContent) {
    const std::vector<ReportedDocument> documents = {
        {Url("http://a.example/index.html"),
         {},
         {element("LINK", "", "p3pv1", "/w3c/ref.xml"), element("IFRAME", "ad.html"),
          element("IMG", "logo.png"), element("IFRAME", "silent.html")}},
        {Url("http://b.example/moved/ad.html"),
         {0},
         {element("IMG", "banner.gif"), element("FRAME", "inner.html")}},
        {Url("http://c.example/inner.html"), {0, 0}, {element("EMBED", "clip.swf")}},
    };
    const CollectedPage page = ReportedPage::collect(documents);
    EXPECT_EQ(page.linkPolicyRef, Url("http://a.example/w3c/ref.xml"));
    EXPECT_THAT(
        page.embedded,
        testing::ElementsAre(EmbeddedItem{"Image", Url("http://a.example/logo.png")},
                             EmbeddedItem{"Frame/IFrame", Url("http://b.example/moved/ad.html")},
                             EmbeddedItem{"Image", Url("http://b.example/moved/banner.gif")},
                             EmbeddedItem{"Frame/IFrame", Url("http://c.example/inner.html")},
                             EmbeddedItem{"Embed", Url("http://c.example/clip.swf")},
                             EmbeddedItem{"Frame/IFrame", Url("http://a.example/silent.html")}));
}

TEST(ReportedPage, NothingWithoutTheTopDocument) {
    const CollectedPage page =
        ReportedPage::collect({{Url("http://b.example/ad.html"), {0}, {element("IMG", "x.gif")}}});
    EXPECT_TRUE(page.embedded.empty());
    EXPECT_TRUE(page.linkPolicyRef.empty());
}

}  // namespace
}  // namespace perchlight
