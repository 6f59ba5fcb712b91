#include "browser/HtmlScanner.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

namespace perchlight {
namespace {

const Url kPage("http://www.example.com/shop/index.html");

std::vector<EmbeddedItem> itemsOf(const std::string& html) {
    return HtmlScanner::scan(html, kPage).items;
}

TEST(HtmlScanner, ListsEachKindOfEmbeddedElementResolved) {
    const std::string html =
        "<html><head><link rel=StyleSheet href=/css/site.css></head><body>"
        "<img src=logo.png><embed src='http://media.example/clip.swf'>"
        "<applet codebase='http://apps.example/' code=Game.class></applet>"
        "<object codebase='http://obj.example/lib' code=Viewer.class></object>"
        "<object codebase='http://obj.example/only'></object>"
        "<img alt=nothing></body></html>";
    const std::vector<EmbeddedItem> expected = {
        {"StyleSheet", Url("http://www.example.com/css/site.css")},
        {"Image", Url("http://www.example.com/shop/logo.png")},
        {"Embed", Url("http://media.example/clip.swf")},
        {"Applet", Url("http://apps.example/Game.class")},
        {"Object", Url("http://obj.example/lib/Viewer.class")},
        {"Object", Url("http://obj.example/only")},
    };
    EXPECT_EQ(itemsOf(html), expected);
}

TEST(HtmlScanner, AppletObjectAndStyleSheetUrlForms) {
    const struct {
        const char* html;
        const char* url;
    } cases[] = {
        {"<applet codebase=classes/ code=Main.class>",
         "http://www.example.com/shop/classes/Main.class"},
        {"<applet codebase=classes code=Main.class>",
         "http://www.example.com/shop/classesMain.class"},
        {"<applet code=Main.class>", "http://www.example.com/shop/Main.class"},
        {"<object codebase=lib code=x.ocx></object>", "http://www.example.com/shop/lib/x.ocx"},
        {"<object codebase='' code=x.ocx></object>", "http://www.example.com/x.ocx"},
        {"<link rel=stylesheet href=a.css>", "http://www.example.com/shop/a.css"},
        {"<link rel=STYLESHEET href=a.css>", "http://www.example.com/shop/a.css"},
    };
    for (const auto& item : cases) {
        const std::vector<EmbeddedItem> items = itemsOf(item.html);
        ASSERT_EQ(items.size(), 1u) << item.html;
        EXPECT_EQ(items[0].url.str(), item.url) << item.html;
    }
}

TEST(HtmlScanner, IgnoresOtherLinksAndUnresolvableUrls) {
    EXPECT_TRUE(itemsOf("<link rel=icon href=/favicon.ico><link rel='alternate stylesheet' "
                        "href=/alt.css><img src='http://[broken'>")
                    .empty());
}

TEST(HtmlScanner, FindsTheFirstP3PLinkInAnyCase) {
    const ScannedDocument document = HtmlScanner::scan(
        "<link rel=p3pv1 href=''><link rel=P3Pv1 href=/w3c/refs.xml>"
        "<link rel=P3PV1 href=/second.xml>",
        kPage);
    EXPECT_EQ(document.linkPolicyRef.str(), "http://www.example.com/w3c/refs.xml");
    EXPECT_TRUE(HtmlScanner::scan("<p>no link</p>", kPage).linkPolicyRef.empty());
}

TEST(HtmlScanner, ListsFramesAndInlineFramesInOrder) {
    const ScannedDocument document = HtmlScanner::scan(
        "<frameset><frame src=top.html><frame src='http://ads.example/'></frameset>", kPage);
    ASSERT_EQ(document.frames.size(), 2u);
    EXPECT_EQ(document.frames[0].str(), "http://www.example.com/shop/top.html");
    EXPECT_EQ(document.frames[1].str(), "http://ads.example/");
    EXPECT_EQ(HtmlScanner::scan("<p><iframe src=in.html></iframe>", kPage).frames.size(), 1u);
}

TEST(HtmlScanner, ElementsInCommentsAndScriptsAreNotContent) {
    EXPECT_TRUE(
        itemsOf("<!-- <img src=a.png> --><script>var s = '<img src=b.png>';</script>").empty());
}

// The HTML parser's cost grows with the square of nesting depth: a hostile page must not be
// able to make it run for minutes.
TEST(HtmlScanner, DeepNestingIsReadOnlyUpToTheBound) {
    std::string html = "<img src=before.png>";
    for (int i = 0; i < 100000; ++i) {
        html += "<div><b>";
    }
    html += "<img src=after.png>";
    const ScannedDocument document = HtmlScanner::scan(html, kPage);
    EXPECT_TRUE(document.truncated);
    ASSERT_EQ(document.items.size(), 1u);
    EXPECT_EQ(document.items[0].url.str(), "http://www.example.com/shop/before.png");
}

TEST(HtmlScanner, WideDocumentsAndImplicitlyClosedElementsAreReadWhole) {
    std::string html = "<table>";
    for (int i = 0; i < 5000; ++i) {
        html += "<tr><td><p><li><div>x</div><img src=i.png>";
    }
    html += "</table><img src=last.png>";
    const ScannedDocument document = HtmlScanner::scan(html, kPage);
    EXPECT_FALSE(document.truncated);
    EXPECT_EQ(document.items.size(), 5001u);
}

}  // namespace
}  // namespace perchlight
