#include "host/core/session_token.h"

#include <gtest/gtest.h>

namespace zel {
namespace {

TEST(SessionToken, NormalisedCodeHashesToTheFirstEightBytesBigEndian) {
    // SHA-256("ABCD") begins e12e115acf4552b2.
    const uint64_t abcd = 0xE12E115ACF4552B2ull;
    struct Case {
        const char* code;
        uint64_t token;
    } cases[] = {
        {"ABCD", abcd}, {"abcd", abcd},     {" a-B c.d ", abcd}, {"ZZ99", 3922384352923991177ull},
        {"AB1D", 0},    {"ABOD", 0},        {"ab0d", 0},         {"ABCDE", 0},
        {"", 0},        {"ABC\xC3\xA9", 0},
    };
    for (const auto& c : cases) EXPECT_EQ(sessionToken(c.code), c.token) << c.code;
    EXPECT_EQ(normalise_access_code("a1b-c2D"), "ABC2D");
}

}  // namespace
}  // namespace zel
