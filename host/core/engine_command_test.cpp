#include "host/core/engine_command.h"

#include <gtest/gtest.h>

#include <functional>
#include <set>

namespace zel {
namespace {

std::vector<std::string> texts(const std::vector<CommandToken>& tokens) {
    std::vector<std::string> out;
    for (const auto& t : tokens) out.push_back(t.text);
    return out;
}

TEST(EngineCommand, PlainStartHasTheFixedOptionsInOrder) {
    StreamProfile p;
    EngineChoices c;
    const auto tokens = engine_command_tokens("C:\\E\\zel-engine-host.exe", "C:\\E\\status.json",
                                              "C:\\E\\control.json", p, c, 42);
    EXPECT_EQ(
        windows_command_line(tokens),
        "\"C:\\E\\zel-engine-host.exe\" --status-file \"C:\\E\\status.json\" --visual-profile G"
        " --width 1920 --height 1080 --fps 60 --bitrate-mbps 20 --video-codec auto"
        " --audio-device \"default\" --audio-volume 1.0 --audio-channels auto"
        " --control-file \"C:\\E\\control.json\" --session-token 42");
}

TEST(EngineCommand, CaptureTargetRegionAndFlagsFollow) {
    StreamProfile p{2560, 1440, 120, 45, "hevc", false};
    EngineChoices c;
    c.audioDeviceId = "{0.0.0.00000000}.{abc}";
    c.audioFormatIndex = 3;
    c.captureOutput = "\\\\.\\DISPLAY2";
    c.captureApplication = "Game \"Deluxe\"";
    c.captureWindowTitle = "C:\\Path\\";
    c.captureProcess = 99;  // the application takes precedence
    c.regionX = 10;
    c.regionY = 20;
    c.regionWidth = 640;
    c.regionHeight = 480;
    c.audioMuted = true;
    c.showCursor = true;
    const auto tokens =
        engine_command_tokens("/e/zel-engine-host", "/e/status.json", "/e/control.json", p, c, 7);
    EXPECT_EQ(windows_command_line(tokens),
              "\"/e/zel-engine-host\" --status-file \"/e/status.json\" --visual-profile G"
              " --width 2560 --height 1440 --fps 120 --bitrate-mbps 45 --video-codec hevc"
              " --audio-device \"{0.0.0.00000000}.{abc}\" --audio-volume 1.0 --audio-channels 8"
              " --control-file \"/e/control.json\" --session-token 7"
              " --capture-output \"\\\\.\\DISPLAY2\""
              " --capture-application \"Game \\\"Deluxe\\\"\""
              " --capture-window-title \"C:\\Path\\\\\""
              " --capture-x 10 --capture-y 20 --capture-width 640 --capture-height 480"
              " --fixed-bitrate --audio-muted --show-cursor");
    // The argument list carries the raw values.
    const auto args = texts(tokens);
    EXPECT_EQ(args[27], "--capture-application");
    EXPECT_EQ(args[28], "Game \"Deluxe\"");
    EXPECT_EQ(args[30], "C:\\Path\\");
}

TEST(EngineCommand, ProcessThenWindowWhenNoApplication) {
    EngineChoices c;
    c.captureProcess = 1234;
    c.captureWindow = 5678;
    auto line = windows_command_line(engine_command_tokens("e", "s", "c", {}, c, 1));
    EXPECT_NE(line.find(" --capture-process 1234"), std::string::npos);
    EXPECT_EQ(line.find("--capture-window"), std::string::npos);
    c.captureProcess = 0;
    line = windows_command_line(engine_command_tokens("e", "s", "c", {}, c, 1));
    EXPECT_NE(line.find(" --capture-window 5678"), std::string::npos);
    c.regionWidth = 640;  // a region needs both sizes
    EXPECT_EQ(
        windows_command_line(engine_command_tokens("e", "s", "c", {}, c, 1)).find("--capture-x"),
        std::string::npos);
}

TEST(EngineCommand, EveryPartOfTheConfigurationChangesTheKey) {
    const StreamProfile baseProfile;
    const EngineChoices baseChoices;
    using Change = std::function<void(StreamProfile&, EngineChoices&, uint64_t&)>;
    const Change changes[] = {
        [](StreamProfile& p, EngineChoices&, uint64_t&) { p.width = 1280; },
        [](StreamProfile& p, EngineChoices&, uint64_t&) { p.height = 720; },
        [](StreamProfile& p, EngineChoices&, uint64_t&) { p.fps = 30; },
        [](StreamProfile& p, EngineChoices&, uint64_t&) { p.bitrateMbps = 21; },
        [](StreamProfile& p, EngineChoices&, uint64_t&) { p.videoCodec = "h264"; },
        [](StreamProfile& p, EngineChoices&, uint64_t&) { p.adaptiveBitrate = false; },
        [](StreamProfile&, EngineChoices& c, uint64_t&) { c.audioDeviceId = "x"; },
        [](StreamProfile&, EngineChoices& c, uint64_t&) { c.audioFormatIndex = 1; },
        [](StreamProfile&, EngineChoices& c, uint64_t&) { c.mouseMode = "gameRawRelative"; },
        [](StreamProfile&, EngineChoices& c, uint64_t&) { c.captureOutput = "d"; },
        [](StreamProfile&, EngineChoices& c, uint64_t&) { c.captureWindow = 1; },
        [](StreamProfile&, EngineChoices& c, uint64_t&) { c.captureProcess = 1; },
        [](StreamProfile&, EngineChoices& c, uint64_t&) { c.captureApplication = "a"; },
        [](StreamProfile&, EngineChoices& c, uint64_t&) { c.captureWindowTitle = "t"; },
        [](StreamProfile&, EngineChoices& c, uint64_t&) { c.regionWidth = c.regionHeight = 64; },
        [](StreamProfile&, EngineChoices& c, uint64_t&) { c.showCursor = true; },
        [](StreamProfile&, EngineChoices&, uint64_t& t) { t = 2; },
    };
    std::set<std::string> keys{configuration_key(baseProfile, baseChoices, 1)};
    for (const auto& change : changes) {
        StreamProfile p = baseProfile;
        EngineChoices c = baseChoices;
        uint64_t token = 1;
        change(p, c, token);
        keys.insert(configuration_key(p, c, token));
    }
    EXPECT_EQ(keys.size(), std::size(changes) + 1);
    // "default" and an empty selection are the same device.
    EngineChoices named = baseChoices;
    named.audioDeviceId = "default";
    EXPECT_EQ(configuration_key(baseProfile, named, 1),
              configuration_key(baseProfile, baseChoices, 1));
}

}  // namespace
}  // namespace zel
