#include <gtest/gtest.h>

#include <limits>

#include "base/text.h"

namespace zel {
namespace {

TEST(Text, Utf8AndUtf16RoundTrip) {
    const std::string samples[] = {"", "plain", "Kamar tidur \xC2\xB7 TV", "\xE6\x97\xA5\xE6\x9C\xAC",
                                   "emoji \xF0\x9F\x8E\xAE end"};
    for (const auto& s : samples) EXPECT_EQ(utf16_to_utf8(utf8_to_utf16(s)), s) << s;
    EXPECT_EQ(utf8_to_utf16("\xF0\x9F\x8E\xAE"), std::u16string(u"\U0001F3AE"));
    EXPECT_EQ(utf8_to_utf16("\xF0\x9F\x8E\xAE").size(), 2u);
}

TEST(Text, MalformedInputBecomesReplacementAndKeepsTheRest) {
    struct Case {
        const char* input;
        std::u16string expected;
    } cases[] = {
        {"a\xFF" "b", u"a\uFFFDb"},              // invalid lead byte
        {"a\xC3", u"a\uFFFD"},                   // cut sequence at the end
        {"\xC0\xAF", u"\uFFFD"},                 // overlong "/" as one
        {"\xED\xA0\x80x", u"\uFFFDx"},           // UTF-8 encoded surrogate
        {"\xE6\x97" "z", u"\uFFFDz"},            // continuation missing
    };
    for (const auto& c : cases) EXPECT_EQ(utf8_to_utf16(c.input), c.expected) << c.input;
    const char16_t lone[] = {u'a', 0xD800, u'b', 0};
    EXPECT_EQ(utf16_to_utf8(lone), "a\xEF\xBF\xBD" "b");
}

TEST(Text, JsonEscapeFollowsTheEngineRules) {
    EXPECT_EQ(json_escape("tab\tnl\ncr\rq\"bs\\"), "tab\\tnl\\ncr\\rq\\\"bs\\\\");
    EXPECT_EQ(json_escape(std::string("a\x01" "b\x1F" "c\x7F", 6)), "abc\x7F");
    EXPECT_EQ(json_escape("Monitor \xC2\xB7 1"), "Monitor \xC2\xB7 1");
    EXPECT_EQ(json_escape(std::string("x\0y", 3)), "xy");
}

TEST(Text, NumbersFormatLikeADefaultStream) {
    struct Case {
        double value;
        const char* expected;
    } cases[] = {
        {0, "0"},           {20, "20"},          {20.0, "20"},         {0.5, "0.5"},
        {50, "50"},         {100, "100"},        {123456, "123456"},   {1234567.0, "1.23457e+06"},
        {0.1 + 0.2, "0.3"}, {1e-5, "1e-05"},     {0.0001, "0.0001"},  {-3.25, "-3.25"},
        {16.6667, "16.6667"}, {2.0 / 3.0, "0.666667"}, {1e100, "1e+100"},
        {std::numeric_limits<double>::quiet_NaN(), "0"},
        {std::numeric_limits<double>::infinity(), "0"},
    };
    for (const auto& c : cases) EXPECT_EQ(format_number(c.value), c.expected) << c.value;
}

}  // namespace
}  // namespace zel
