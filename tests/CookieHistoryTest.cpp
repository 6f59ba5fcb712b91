#include "prefs/CookieHistory.h"

#include <gtest/gtest.h>

#include <string>

#include "TestSupport.h"

namespace perchlight {
namespace {

using test::TempDir;
using test::writeFile;
using Sites = CookieHistory::Sites;

TEST(CookieHistoryRecord, KeepsFirstSitesAndTheirOtherSites) {
    CookieHistory history;
    history.record("a", "a");
    history.record("b", "");
    history.record("", "c");
    history.record("d", "e");
    history.record("d", "f");
    history.record("d", "e");
    EXPECT_EQ(history.sites(), (Sites{{"a", {}}, {"b", {}}, {"d", {"e", "f"}}}));
}

TEST(CookieHistoryFile, MergesWithWhatIsHeld) {
    TempDir dir;
    writeFile(dir / "h.xml",
              "<COOKIEHISTORY><MAINSITE NAME='a'><OTHERSITE NAME='x'/></MAINSITE>"
              "<MAINSITE NAME='b'/><MAINSITE NAME='a'><OTHERSITE NAME='y'/><OTHER NAME='z'/>"
              "</MAINSITE><SITE NAME='c'/></COOKIEHISTORY>");
    CookieHistory history;
    history.record("a", "w");
    history.mergeFile((dir / "h.xml").string());
    EXPECT_EQ(history.sites(), (Sites{{"a", {"w", "x", "y"}}, {"b", {}}}));
}

TEST(CookieHistoryFile, MissingMalformedOrForeignFilesAddNothing) {
    TempDir dir;
    writeFile(dir / "broken.xml", "<COOKIEHISTORY><MAINSITE");
    writeFile(dir / "foreign.xml", "<HISTORY><MAINSITE NAME='a'/></HISTORY>");
    for (const char* name : {"missing.xml", "broken.xml", "foreign.xml"}) {
        CookieHistory history;
        history.mergeFile((dir / name).string());
        EXPECT_TRUE(history.sites().empty()) << name;
    }
}

TEST(CookieHistoryFile, WritesSitesThatReadBackUnchanged) {
    CookieHistory history;
    history.record("plain.example", "");
    history.record("a&b \"quoted\" <x>", "tab\there");
    TempDir dir;
    const std::string path = (dir / "h.xml").string();
    history.writeFile(path);
    EXPECT_EQ(test::readFile(path),
              "<?xml version=\"1.0\"?>\n"
              "  <COOKIEHISTORY >\n"
              "    <MAINSITE NAME=\"a&amp;b &quot;quoted&quot; &lt;x&gt;\" >\n"
              "      <OTHERSITE NAME=\"tab&#9;here\" />\n"
              "    </MAINSITE>\n"
              "    <MAINSITE NAME=\"plain.example\" />\n"
              "  </COOKIEHISTORY>\n");
    CookieHistory back;
    back.mergeFile(path);
    EXPECT_EQ(back.sites(), history.sites());
}

}  // namespace
}  // namespace perchlight
