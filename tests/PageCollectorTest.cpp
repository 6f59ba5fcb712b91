#include "browser/PageCollector.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>

#include "TestSupport.h"

namespace perchlight {
namespace {}  // namespace

namespace {

// Serves canned documents, follows canned redirects and counts what was asked for.
struct Site {
    std::map<std::string, std::string> documents;
    std::map<std::string, std::string> redirects;  // URL asked for -> where it ends
    std::vector<std::string> requested;

    PageCollector::Fetch fetch() {
        return [this](const Url& url) -> std::optional<FetchedDocument> {
            requested.push_back(url.str());
            const auto moved = redirects.find(url.str());
            const std::string location = moved == redirects.end() ? url.str() : moved->second;
            const auto found = documents.find(location);
            if (found == documents.end()) {
                return std::nullopt;
            }
            return FetchedDocument{found->second, Url(location)};
        };
    }
};

TEST(PageCollector, ListsEachFrameBeforeItsOwnContent) {
    Site site;
    site.documents["http://a.example/left.html"] = "<img src=l.png><iframe src=inner.html>";
    site.documents["http://a.example/inner.html"] = "<img src=i.png>";
    const CollectedPage page =
        PageCollector(site.fetch())
            .collect(
                "<link rel=P3PV1 href=/refs.xml><img src=top.png>"
                "<iframe src=left.html></iframe><iframe src='file:///etc/passwd'></iframe>",
                Url("http://a.example/index.html"));
    const std::vector<EmbeddedItem> expected = {
        {"Image", Url("http://a.example/top.png")},
        {"Frame/IFrame", Url("http://a.example/left.html")},
        {"Image", Url("http://a.example/l.png")},
        {"Frame/IFrame", Url("http://a.example/inner.html")},
        {"Image", Url("http://a.example/i.png")},
        {"Frame/IFrame", Url("file:///etc/passwd")},
    };
    EXPECT_EQ(page.embedded, expected);
    EXPECT_EQ(page.linkPolicyRef.str(), "http://a.example/refs.xml");
    // Only web frames are fetched.
    EXPECT_EQ(site.requested, (std::vector<std::string>{"http://a.example/left.html",
                                                        "http://a.example/inner.html"}));
}

TEST(PageCollector, RelativeUrlsInAFrameResolveAgainstTheFrame) {
    Site site;
    site.documents["http://b.example/ads/frame.html"] = "<img src=banner.png>";
    const CollectedPage page =
        PageCollector(site.fetch())
            .collect("<iframe src='http://b.example/ads/frame.html'></iframe>",
                     Url("http://a.example/news/index.html"));
    ASSERT_EQ(page.embedded.size(), 2u);
    EXPECT_EQ(page.embedded[1].url.str(), "http://b.example/ads/banner.png");
}

TEST(PageCollector, AFrameUrlIsReadOnceAndThePageNeverAgain) {
    Site site;
    site.documents["http://a.example/a.html"] = "<iframe src=b.html></iframe>";
    site.documents["http://a.example/b.html"] = "<iframe src=a.html></iframe><img src=x.png>";
    const std::string html =
        "<iframe src=loop.html></iframe><iframe src=a.html></iframe>"
        "<iframe src=a.html></iframe>";
    site.documents["http://a.example/loop.html"] = html;
    const CollectedPage page =
        PageCollector(site.fetch()).collect(html, Url("http://a.example/loop.html"));
    EXPECT_EQ(site.requested,
              (std::vector<std::string>{"http://a.example/a.html", "http://a.example/b.html"}));
    EXPECT_EQ(page.embedded.size(), 6u);  // loop, a, (a: b, (b: x.png, a)), a
}

TEST(PageCollector, FramesAreBoundedInDepthAndNumber) {
    Site site;
    for (int i = 0; i < 100; ++i) {
        site.documents["http://a.example/d" + std::to_string(i) + ".html"] =
            "<iframe src=d" + std::to_string(i + 1) + ".html></iframe>";
    }
    PageCollector(site.fetch()).collect("<iframe src=d0.html></iframe>", Url("http://a.example/"));
    EXPECT_EQ(site.requested.size(), static_cast<std::size_t>(PageCollector::kMaxFrameDepth));

    site.requested.clear();
    std::string fan;
    for (int i = 0; i < 100; ++i) {
        fan += "<iframe src=f" + std::to_string(i) + ".html></iframe>";
    }
    PageCollector(site.fetch()).collect(fan, Url("http://a.example/fan.html"));
    EXPECT_EQ(site.requested.size(), static_cast<std::size_t>(PageCollector::kMaxFrames));
}

TEST(PageCollector, ARedirectedFrameIsListedAndReadWhereItEnded) {
    Site site;
    site.redirects["http://a.example/fr/old.html"] = "http://b.example/g/new.html";
    site.documents["http://b.example/g/new.html"] = "<img src=n.gif>";
    const CollectedPage page =
        PageCollector(site.fetch())
            .collect("<iframe src=fr/old.html></iframe>", Url("http://a.example/index.html"));
    EXPECT_THAT(page.embedded, testing::ElementsAre(
                                   EmbeddedItem{"Frame/IFrame", Url("http://b.example/g/new.html")},
                                   EmbeddedItem{"Image", Url("http://b.example/g/n.gif")}));
}

TEST(PageCollector, TheFirstBaseWithAnHrefIsTheBaseOfEveryReference) {
    Site site;
    const CollectedPage page =
        PageCollector(site.fetch())
            .collect(
                "<img src=early.png><base target=x><base href='http://cdn.example/s/'>"
                "<base href='http://ignored.example/'><link rel=P3Pv1 href=p3p.xml>"
                "<link rel=stylesheet href=a.css>",
                Url("http://a.example/page.html"));
    EXPECT_EQ(page.linkPolicyRef, Url("http://cdn.example/s/p3p.xml"));
    EXPECT_THAT(page.embedded, testing::ElementsAre(
                                   EmbeddedItem{"Image", Url("http://cdn.example/s/early.png")},
                                   EmbeddedItem{"StyleSheet", Url("http://cdn.example/s/a.css")}));
}

TEST(PageCollector, ABaseThatDoesNotResolveLeavesTheDocumentsUrl) {
    Site site;
    const CollectedPage page = PageCollector(site.fetch())
                                   .collect("<base href='http://[bad'><img src=x.png>",
                                            Url("http://a.example/d/page.html"));
    EXPECT_THAT(page.embedded,
                testing::ElementsAre(EmbeddedItem{"Image", Url("http://a.example/d/x.png")}));
}

}  // namespace
}  // namespace perchlight
