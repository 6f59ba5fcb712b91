#include "util/Url.h"

#include <gtest/gtest.h>

#include "util/Error.h"

namespace perchlight {
namespace {

TEST(Url, KeepsTheAbsoluteFormAndItsParts) {
    const Url url("http://www.example.com:8080/w3c/policy.xml#first");
    EXPECT_EQ(url.str(), "http://www.example.com:8080/w3c/policy.xml#first");
    EXPECT_EQ(url.protocol(), "http");
    EXPECT_EQ(url.base(), "http://www.example.com:8080");
    EXPECT_EQ(url.fragment(), "first");
    EXPECT_EQ(url.withoutFragment().str(), "http://www.example.com:8080/w3c/policy.xml");
}

TEST(Url, BaseNamesThePortOnlyWhenTheUrlDoes) {
    EXPECT_EQ(Url("https://shop.example/a/b?c=d").base(), "https://shop.example");
    EXPECT_EQ(Url("http://127.0.0.1:1234/").base(), "http://127.0.0.1:1234");
}

TEST(Url, FragmentIsTheTextAfterTheFirstHash) {
    EXPECT_EQ(Url("http://a.example/p.xml").fragment(), "");
    EXPECT_EQ(Url("http://a.example/p.xml#").fragment(), "");
    EXPECT_EQ(Url("http://a.example/p.xml").withoutFragment(), Url("http://a.example/p.xml"));
}

TEST(Url, ResolvesRelativeReferences) {
    const Url page("http://www.example.com/shop/cart/view.html?x=1");
    EXPECT_EQ(page.resolve("/w3c/p3p.xml").str(), "http://www.example.com/w3c/p3p.xml");
    EXPECT_EQ(page.resolve("policy.xml#p1").str(),
              "http://www.example.com/shop/cart/policy.xml#p1");
    EXPECT_EQ(page.resolve("../p.xml").str(), "http://www.example.com/shop/p.xml");
    EXPECT_EQ(page.resolve("//other.example/x").str(), "http://other.example/x");
    EXPECT_EQ(page.resolve("https://secure.example/").str(), "https://secure.example/");
}

TEST(Url, RejectsWhatIsNoAbsoluteUrl) {
    for (const char* text : {"", "relative/path", "http://", "not a url"}) {
        try {
            Url url(text);
            ADD_FAILURE() << "accepted " << text;
        } catch (const Error& error) {
            EXPECT_EQ(error.message(), "Invalid URL");
            EXPECT_EQ(error.unit(), "Url");
            EXPECT_GT(error.line(), 0);
        }
    }
    EXPECT_THROW(Url(std::string("http://a.example/\0x", 20)), Error);
}

TEST(Url, AcceptsFileUrlsAndComparesByString) {
    const Url file("file:///tmp/policy%20one.xml");
    EXPECT_EQ(file.protocol(), "file");
    EXPECT_LT(Url("http://a.example/"), Url("http://b.example/"));
    EXPECT_TRUE(Url().empty());
    EXPECT_EQ(Url().base(), "");
}

}  // namespace
}  // namespace perchlight
