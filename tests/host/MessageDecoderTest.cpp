#include "host/MessageDecoder.h"

#include <gtest/gtest.h>

#include "host/HostSession.h"

namespace perchlight {
namespace {

using nlohmann::json;

struct BadRequest {
    const char* name;
    std::string body;
    const char* error;  // a part of the error text
    json id;            // the id the error reply carries
};

void PrintTo(const BadRequest& bad, std::ostream* out) {
    *out << bad.name;
}

class MessageDecoder_Rejects : public ::testing::TestWithParam<BadRequest> {};

TEST_P(MessageDecoder_Rejects, WithAnErrorNamingTheProblem) {
    const BadRequest& bad = GetParam();
    try {
        (void)decodeRequest(bad.body);
        FAIL() << "accepted " << bad.body;
    } catch (const RequestError& error) {
        EXPECT_NE(std::string(error.what()).find(bad.error), std::string::npos) << error.what();
    }
    EXPECT_EQ(requestIdOf(bad.body), bad.id);
}

INSTANTIATE_TEST_SUITE_P(
    Table, MessageDecoder_Rejects,
    ::testing::Values(
        BadRequest{"Empty", "", "malformed JSON", nullptr},
        BadRequest{"NotJson", "page please", "malformed JSON", nullptr},
        BadRequest{"Cut", "{\"id\":1,\"type\":\"pa", "malformed JSON", nullptr},
        BadRequest{"Array", "[1,2]", "not an object", nullptr},
        BadRequest{"Number", "42", "not an object", nullptr},
        BadRequest{"NoId", "{\"type\":\"page\"}", "missing field: id", nullptr},
        BadRequest{"FloatId", "{\"id\":1.5,\"type\":\"page\"}", "field id", nullptr},
        BadRequest{"LongId", "{\"id\":\"" + std::string(65, 'a') + "\",\"type\":\"x\"}", "field id",
                   nullptr},
        BadRequest{"ObjectId", "{\"id\":{},\"type\":\"x\"}", "field id", nullptr},
        BadRequest{"NoType", "{\"id\":7}", "missing field: type", 7},
        BadRequest{"NumberType", "{\"id\":\"a\",\"type\":3}", "field type: not a string", "a"},
        BadRequest{"BadUtf8", "{\"id\":8,\"type\":\"\xff\xfe\"}", "malformed JSON", nullptr},
        BadRequest{"TooDeep",
                   "{\"id\":9,\"x\":" + std::string(40, '[') + std::string(40, ']') + "}",
                   "nested deeper", nullptr},
        BadRequest{"VeryDeep", std::string(100000, '['), "nested deeper", nullptr}),
    [](const ::testing::TestParamInfo<BadRequest>& info) { return info.param.name; });

TEST(MessageDecoder_Accepts, IdsOfBothKindsAndBracketsInsideStrings) {
    const Request number = decodeRequest("{\"id\":12,\"type\":\"page\"}");
    EXPECT_EQ(number.id, 12);
    EXPECT_EQ(number.type, "page");
    const Request text =
        decodeRequest("{\"id\":\"" + std::string(64, 'z') + "\",\"type\":\"x\",\"s\":\"" +
                      std::string(100, '[') + "\\\"\"}");
    EXPECT_EQ(text.id, std::string(64, 'z'));
}

TEST(MessageDecoder_Fields, GettersNameTheField) {
    const json object = json::parse(
        R"({"tab": -1, "url": "file:///etc/passwd", "n": "x", "big": 18446744073709551615, "float": 1e30,
            "flag": 1, "list": [1,2,3], "long": "aaaaaaaaaa"})");
    const Fields fields(object);
    const auto errorOf = [](auto call) {
        try {
            call();
        } catch (const RequestError& error) {
            return std::string(error.what());
        }
        return std::string("no error");
    };
    EXPECT_EQ(errorOf([&] { fields.tab(); }), "field tab: out of range");
    EXPECT_EQ(errorOf([&] { fields.webUrl("url"); }), "field url: not an http or https address");
    EXPECT_EQ(errorOf([&] { fields.integer("n", 0, 5); }), "field n: not an integer");
    EXPECT_EQ(errorOf([&] { fields.integer("float", 0, 5); }), "field float: not an integer");
    EXPECT_EQ(errorOf([&] { fields.integer("big", 0, 5); }), "field big: out of range");
    EXPECT_EQ(errorOf([&] { fields.boolean("flag"); }), "field flag: not a boolean");
    EXPECT_EQ(errorOf([&] { fields.array("list", 2); }), "field list: more than 2 entries");
    EXPECT_EQ(errorOf([&] { fields.string("long", 5); }), "field long: longer than 5 bytes");
    EXPECT_EQ(errorOf([&] { fields.string("absent"); }), "missing field: absent");
}

TEST(MessageDecoder_Replies, InvalidUtf8FromSitesIsReplacedNotThrown) {
    const std::string reply = encodeReply(json{{"id", 1},
                                               {"ok", true},
                                               {"title",
                                                "a\xff"
                                                "b"}});
    EXPECT_NE(reply.find("a\xEF\xBF\xBD"
                         "b"),
              std::string::npos);
}

TEST(MessageDecoder_Replies, LongSummaryIsCutWithANoteUnderTheLimit) {
    std::string html;
    while (html.size() < 3 * kMaxReplyBytes) {
        html += "<p>\"quoted\" \xC3\xA9 text</p>";
    }
    const std::string reply = fitReply(json{{"id", 1}, {"ok", true}, {"html", html}});
    EXPECT_LE(reply.size(), kMaxReplyBytes);
    const json parsed = json::parse(reply);
    EXPECT_TRUE(parsed["truncated"].get<bool>());
    EXPECT_NE(parsed["html"].get<std::string>().find("cut off"), std::string::npos);
}

TEST(MessageDecoder_Replies, LongItemListIsShortenedAndMarked) {
    json items = json::array();
    for (int i = 0; i < 20000; ++i) {
        items.push_back(json{{"url", "http://127.0.0.1/" + std::string(80, 'i')},
                             {"state", "unknown"},
                             {"type", "Image"},
                             {"policy", ""}});
    }
    const std::string reply = fitReply(json{{"id", 2}, {"ok", true}, {"items", items}});
    EXPECT_LE(reply.size(), kMaxReplyBytes);
    const json parsed = json::parse(reply);
    EXPECT_TRUE(parsed["ok"].get<bool>());
    EXPECT_TRUE(parsed["truncated"].get<bool>());
    EXPECT_GT(parsed["items"].size(), 1000u);
}

TEST(MessageDecoder_Replies, LongCompactPolicyListKeepsThePagesOwn) {
    json compact = json::array();
    for (int i = 0; i < 400; ++i) {
        compact.push_back(json{{"url", "http://127.0.0.1/" + std::to_string(i)},
                               {"header", std::string(4000, 'h')},
                               {"cp", "NOI"}});
    }
    const std::string reply = fitReply(json{{"id", 3},
                                            {"ok", true},
                                            {"compactPolicies", compact},
                                            {"items", json::array({json{{"url", "x"}}})}});
    EXPECT_LE(reply.size(), kMaxReplyBytes);
    const json parsed = json::parse(reply);
    EXPECT_TRUE(parsed["truncated"].get<bool>());
    ASSERT_GE(parsed["compactPolicies"].size(), 1u);
    EXPECT_LT(parsed["compactPolicies"].size(), 400u);
    EXPECT_EQ(parsed["compactPolicies"][0]["url"], "http://127.0.0.1/0");
    EXPECT_EQ(parsed["items"].size(), 1u);  // the items were not needed to make room
}

}  // namespace
}  // namespace perchlight
