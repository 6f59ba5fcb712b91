#include "core/WildcardMatch.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace perchlight {
namespace {

// The plain recursive reading of the rules, exponential in the worst case: the reference that
// the linear matcher must agree with.
bool referenceMatch(std::string_view pattern, std::string_view text) {
    if (pattern.empty()) {
        return text.empty();
    }
    if (pattern[0] == '*') {
        for (std::size_t skip = 0; skip <= text.size(); ++skip) {
            if (referenceMatch(pattern.substr(1), text.substr(skip))) {
                return true;
            }
        }
        return false;
    }
    return !text.empty() && (pattern[0] == '?' || pattern[0] == text[0]) &&
           referenceMatch(pattern.substr(1), text.substr(1));
}

struct Case {
    const char* pattern;
    const char* text;
    bool matches;
};

TEST(WildcardMatch, FollowsTheWholeTextRules) {
    const Case cases[] = {
        {"", "", true},
        {"", "a", false},
        {"a", "", false},
        {"*", "", true},
        {"**", "anything", true},
        {"?", "", false},
        {"?", "x", true},
        {"??", "x", false},
        {"abc", "abc", true},
        {"abc", "ABC", false},
        {"abc", "abcd", false},
        {"a*c", "ac", true},
        {"a*c", "abbbc", true},
        {"a*c", "abbbcd", false},
        {"*?", "", false},
        {"*?", "x", true},
        {"*??", "x", false},
        {"http://www.example.com/*", "http://www.example.com/shop/cart", true},
        {"http://www.example.com/*", "http://www.example.com.evil/", false},
        {"/cgi-bin/*", "/cgi-bin/", true},
        {"*.example.com", "www.example.com", true},
        {"*.example.com", "example.com", false},
        {"#user.name.*", "#user.name.given", true},
        {"#user.name.*", "#user.namex", false},
        {"a*b*c", "abcbc", true},
        {"a*b*c", "acb", false},
        {"*a", "bbba", true},
        {"[a]", "a", false},
        {"\\*", "*", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(wildcardMatch(c.pattern, c.text), c.matches)
            << "pattern \"" << c.pattern << "\" text \"" << c.text << "\"";
    }
}

TEST(WildcardMatch, NonAsciiBytesMatchOneByOne) {
    EXPECT_TRUE(wildcardMatch("caf?\xA9", "caf\xC3\xA9"));
    EXPECT_FALSE(wildcardMatch("caf?", "caf\xC3\xA9"));
    EXPECT_TRUE(wildcardMatch(std::string_view("a\0b", 3), std::string_view("a\0b", 3)));
}

TEST(WildcardMatch, AgreesWithTheRecursiveReadingOnRandomInput) {
    std::mt19937 random(20261206);
    const std::string patternAlphabet = "ab*?";
    const std::string textAlphabet = "ab";
    auto draw = [&](const std::string& alphabet, std::size_t maxLength) {
        std::string s(std::uniform_int_distribution<std::size_t>(0, maxLength)(random), ' ');
        for (char& c : s) {
            c = alphabet[std::uniform_int_distribution<std::size_t>(0,
                                                                    alphabet.size() - 1)(random)];
        }
        return s;
    };
    for (int i = 0; i < 20000; ++i) {
        const std::string pattern = draw(patternAlphabet, 8);
        const std::string text = draw(textAlphabet, 10);
        ASSERT_EQ(wildcardMatch(pattern, text), referenceMatch(pattern, text))
            << "pattern \"" << pattern << "\" text \"" << text << "\"";
    }
}

// A pattern built to make a backtracking matcher take exponential time; the answer must still
// come (the suite's time limit catches a regression, the benchmark measures it).
TEST(WildcardMatch, HostilePatternStillAnswers) {
    std::string pattern;
    for (int i = 0; i < 40; ++i) {
        pattern += "*a";
    }
    pattern += "b";
    EXPECT_FALSE(wildcardMatch(pattern, std::string(5000, 'a')));
    EXPECT_TRUE(wildcardMatch(pattern, std::string(5000, 'a') + "b"));
}

}  // namespace
}  // namespace perchlight
