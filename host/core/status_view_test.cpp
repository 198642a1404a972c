#include "host/core/status_view.h"

#include <gtest/gtest.h>

#include "host/ui/localisation.h"

namespace zel {
namespace {

class StatusViewTest : public ::testing::Test {
  protected:
    StatusViewTest() { set_language_mode(kLanguageEnglish); }
    ~StatusViewTest() override { set_language_mode(kLanguageAutomatic); }
};

TEST_F(StatusViewTest, StatesGiveTheirHeaderAndDetail) {
    struct Case {
        const char* json;
        PollContext context;
        bool update;
        const char* header;
        const char* detail;
        const char* testFailure;
    } cases[] = {
        {R"({"state":"ready","message":"ZEL Engine siap menerima receiver"})",
         {},
         true,
         "ZEL ENGINE ACTIVE",
         "ZEL Engine siap menerima receiver",
         ""},
        {R"({"state":"ready","message":""})",
         {},
         true,
         "ZEL ENGINE ACTIVE",
         "Ready to receive cast.",
         ""},
        {R"({"state":"ready","message":""})",
         {true, true},
         false,
         "",
         "",
         "Receiver test failed because the session disconnected before 3 minutes."},
        {R"({"state":"reconnecting","message":""})",
         {},
         true,
         "RECONNECTING",
         "Source changed; waiting for the receiver to reconnect.",
         ""},
        {R"({"state":"reconnecting","message":"Sumber berubah"})",
         {},
         true,
         "RECONNECTING",
         "Sumber berubah",
         ""},
        {R"({"state":"error","message":"Engine broke"})",
         {true, false},
         true,
         "ENGINE ERROR",
         "Engine broke",
         "Receiver test failed because ZEL Engine reported an error."},
        {R"({"state":"starting"})", {}, false, "", "", ""},
        {"", {}, false, "", "", ""},
    };
    for (const auto& c : cases) {
        const StatusView v = status_view(c.json, c.context);
        EXPECT_EQ(v.update, c.update) << c.json;
        EXPECT_EQ(v.header, c.header) << c.json;
        EXPECT_EQ(v.detail, c.detail) << c.json;
        EXPECT_EQ(v.receiverTestFailure, c.testFailure) << c.json;
        EXPECT_FALSE(v.streaming) << c.json;
    }
}

TEST_F(StatusViewTest, StreamingLineJoinsTheFigures) {
    const char* json =
        R"({"state":"streaming","message":"Streaming desktop aktif","backend":"NVIDIA NVENC","width":1920,)"
        R"("height":1080,"fps":60,"targetBitrateMbps":20,"mediaBitrateMbps":18.44,"audioDevice":"",)"
        R"("audioMuted":true,"cursorVisible":true,"receiverFps":59.6,"receiverTargetFps":60,)"
        R"("receiverMaxDecoderQueue":3,"codec":"H.264 Annex-B","audioChannels":6})";
    const StatusView v = status_view(json, {});
    EXPECT_TRUE(v.update);
    EXPECT_TRUE(v.streaming);
    EXPECT_EQ(v.header, "●  STREAMING");
    EXPECT_EQ(v.detail,
              "60/60 FPS · Streaming 1920×1080 · target 20.0 Mbps · 18.4 Mbps · NVIDIA NVENC "
              "H.264 Annex-B · audio Default Windows 5.1 / receiver audio muted · cursor visible"
              " · queue 3");
    const StatusView plain = status_view(
        R"({"state":"streaming","audioDevice":"HDMI","audioChannels":2,"fps":30,"audioMuted":false})",
        {});
    EXPECT_EQ(plain.detail,
              "0/30 FPS · Streaming 0×0 · target 0.0 Mbps · 0.0 Mbps · audio HDMI stereo");
}

}  // namespace
}  // namespace zel
