#include "host/core/json.h"

#include <gtest/gtest.h>

namespace zel {
namespace {

TEST(Json, StringLookups) {
    struct Case {
        const char* text;
        const char* key;
        const char* expected;
    } cases[] = {
        {R"({"state":"ready","message":"x"})", "state", "ready"},
        {R"({"fps": 60, "x": 1})", "fps", "60"},
        {R"({"outer":{"inner":"deep"},"inner":"flat"})", "inner", "deep"},
        {R"({"a" :	"spaced"})", "a", "spaced"},
        {"{\"a\":\r\n  7}", "a", "7"},
        {R"({"a":5 ,"b":1})", "a", "5 "},
        {R"({"a":true})", "a", "true"},
        {R"({"a":"say \"hi\" \\ \t\n"})", "a", "say \"hi\" \\ t\n"},
        {R"({"a":"unterminated)", "a", "unterminated"},
        {R"({"a":"x"})", "b", ""},
        {R"({"a" "x"})", "a", ""},
        {R"({"a":   )", "a", ""},
        {R"({"name":"Kamar · TV"})", "name", "Kamar · TV"},
    };
    for (const auto& c : cases) EXPECT_EQ(jsonString(c.text, c.key), c.expected) << c.text;
}

TEST(Json, ObjectLookups) {
    struct Case {
        const char* text;
        const char* key;
        const char* expected;
    } cases[] = {
        {R"({"a":{"t":"}{"}})", "a", R"({"t":"}{"})"},
        {R"({"h264":{"p1080_60":true,"x":{"y":1}},"z":2})", "h264",
         R"({"p1080_60":true,"x":{"y":1}})"},
        {R"({"a":{"t":"q\"}"}})", "a", R"({"t":"q\"}"})"},
        {R"({"a":{"t":1)", "a", ""},
        {R"({"a":1})", "b", ""},
        {R"({"a":1})", "a", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(jsonObject(c.text, c.key), c.expected) << c.text;
}

TEST(Json, NumbersFallBackWhenMissingOrUnparsable) {
    EXPECT_EQ(jsonInt(R"({"w":1920,"h":-5})", "w", 7), 1920);
    EXPECT_EQ(jsonInt(R"({"w":1920,"h":-5})", "h", 7), -5);
    EXPECT_EQ(jsonInt(R"({"w":"x"})", "w", 7), 7);
    EXPECT_EQ(jsonInt(R"({"w":99999999999})", "w", 7), 7);
    EXPECT_EQ(jsonInt(R"({"w":59.9})", "w", 7), 7);
    EXPECT_EQ(jsonInt(R"({})", "w", 7), 7);
    EXPECT_DOUBLE_EQ(jsonDouble(R"({"r":59.94 })", "r", 1), 59.94);
    EXPECT_DOUBLE_EQ(jsonDouble(R"({"r":1.23457e+06})", "r", 1), 1234570);
    EXPECT_DOUBLE_EQ(jsonDouble(R"({"r":null})", "r", 1), 1);
    EXPECT_DOUBLE_EQ(jsonDouble(R"({"r":1e999})", "r", 1), 1);
}

TEST(Json, EscapeWritesTwoCharacterEscapesAndDropsOtherControls) {
    EXPECT_EQ(jsonEscape("a\"b\\c\b\f\n\r\t\x01\x1f·"), "a\\\"b\\\\c\\b\\f\\n\\r\\t·");
    // What jsonString reads back from an escaped text (tab excepted: it reads "t").
    EXPECT_EQ(jsonString("{\"k\":\"" + jsonEscape("x \"q\" \\ y\n") + "\"}", "k"),
              "x \"q\" \\ y\n");
}

}  // namespace
}  // namespace zel
