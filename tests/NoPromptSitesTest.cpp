#include "prefs/NoPromptSites.h"

#include <gtest/gtest.h>

#include <string>

#include "TestSupport.h"

namespace perchlight {
namespace {

using test::TempDir;
using test::writeFile;

std::vector<std::string> sitesOf(const NoPromptSites& list) {
    std::vector<std::string> sites;
    for (const auto& [site, flag] : list.sites()) {
        sites.push_back(site.str());
    }
    return sites;
}

TEST(NoPromptSitesRead, TakesEveryWhitespaceSeparatedUrlToken) {
    TempDir dir;
    writeFile(dir / "list.p3p",
              "http://a.example/\r\nhttp://b.example/ https://c.example:8443/\n\n\tnot-a-url\n" +
                  std::string("http://") + std::string(2040, 'x') + "/ http://d.example/");
    NoPromptSites list;
    list.add(Url("http://stale.example/"), false);
    list.read((dir / "list.p3p").string());
    EXPECT_EQ(sitesOf(list),
              (std::vector<std::string>{"http://a.example/", "http://b.example/",
                                        "http://d.example/", "https://c.example:8443/"}));
    EXPECT_TRUE(list.sites().begin()->second);
}

TEST(NoPromptSitesRead, TokenOfTheLimitCountsAndALongerOneDoesNot) {
    const std::string host(NoPromptSites::kMaxTokenLength - 8, 'h');
    TempDir dir;
    writeFile(dir / "list.p3p", "http://" + host + "/ http://" + host + "x/");
    NoPromptSites list;
    list.read((dir / "list.p3p").string());
    EXPECT_EQ(sitesOf(list), (std::vector<std::string>{"http://" + host + "/"}));
}

TEST(NoPromptSitesRead, MissingFileGivesAnEmptyList) {
    TempDir dir;
    NoPromptSites list;
    list.add(Url("http://a.example/"), true);
    list.read((dir / "none.p3p").string());
    EXPECT_TRUE(list.sites().empty());
}

TEST(NoPromptSitesWrite, WritesOneLinePerSiteWhateverItsFlag) {
    NoPromptSites list;
    list.add(Url("http://b.example"), false);
    list.add(Url("http://a.example"), true);
    TempDir dir;
    ASSERT_TRUE(list.write((dir / "list.p3p").string()));
    EXPECT_EQ(test::readFile(dir / "list.p3p"), "http://a.example/\nhttp://b.example/\n");
    EXPECT_FALSE(list.write((dir / "missing" / "list.p3p").string()));
}

}  // namespace
}  // namespace perchlight
