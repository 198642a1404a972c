#include <gtest/gtest.h>

#include "base/fs.h"
#include "engine/core/control_file.h"
#include "tests/support/temp_dir.h"

namespace zel {
namespace {

TEST(ControlFile, ParsesSearchedKeys) {
    const ControlValues previous{0.4f, true, true};
    struct Case {
        const char* text;
        ControlValues expected;
    } cases[] = {
        {"{\"audioVolume\":0.5,\"audioMuted\":false,\"showCursor\":false}", {0.5f, false, false}},
        {"{\"audioVolume\":1.5,\"audioMuted\":\"yes\"}", {1.0f, false, true}},
        {"{\"audioVolume\": -2}", {0.0f, true, true}},
        {"{\"audioMuted\":\n  true}", {0.4f, true, true}},
        {"{\"showCursor\" :\tfalse}", {0.4f, true, false}},
        {"{\"audioMuted\"}", {0.4f, true, true}},      // no colon: kept
        {"{\"audioVol", {0.4f, true, true}},            // cut in the middle of a write
        {"", {0.4f, true, true}},
        {"{\"audioMuted\":tru", {0.4f, false, true}},   // cut value reads as false
        {"{\"audioVolume\":x}", {0.0f, true, true}},    // strtod gives 0
    };
    for (const auto& c : cases) EXPECT_EQ(parse_control_text(c.text, previous), c.expected) << c.text;
}

TEST(ControlFile, MissingFileOrPathKeepsPreviousValues) {
    const ControlValues previous{0.7f, true, false};
    EXPECT_EQ(readControl({}, previous), previous);
    TempDir dir;
    EXPECT_EQ(readControl(dir.path() / "control.json", previous), previous);
    ASSERT_TRUE(atomic_replace_file(dir.path() / "control.json", "{\"audioMuted\":false}"));
    EXPECT_EQ(readControl(dir.path() / "control.json", previous), (ControlValues{0.7f, false, false}));
}

}  // namespace
}  // namespace zel
