#include <gtest/gtest.h>

#include <functional>

#include "base/fs.h"
#include "engine/core/command_line.h"

namespace zel {
namespace {

CommandLineResult parse(std::vector<std::string> args) {
    args.insert(args.begin(), "zel-engine-host");
    return parse_command_line(args);
}

TEST(CommandLine, DefaultsWithoutArguments) {
    const auto r = parse({});
    ASSERT_TRUE(r.accepted());
    const EngineSettings& s = r.settings;
    EXPECT_EQ(s.fps, 60u);
    EXPECT_EQ(s.bitrate, 20'000'000u);
    EXPECT_EQ(s.width, 0u);
    EXPECT_EQ(s.height, 0u);
    EXPECT_EQ(s.videoCodec, "auto");
    EXPECT_EQ(s.visualProfile, 7);
    EXPECT_TRUE(s.adaptiveBitrate);
    EXPECT_FLOAT_EQ(s.audioVolume, 1.0f);
    EXPECT_TRUE(s.statusFile.empty());
    EXPECT_TRUE(s.controlFile.empty());
    EXPECT_EQ(s.testDropEvery, 0u);
    EXPECT_EQ(s.testDropDelaySeconds, 5u);
    EXPECT_EQ(s.testDropDurationSeconds, 5u);
}

TEST(CommandLine, RefusalsInValidationOrder) {
    const char* kSize = "Supported resolutions are native, 1280x720, 1920x1080, 2560x1440, or 3840x2160";
    const char* kImpairment =
        "Test impairment requires interval >=2, delay 1..30, and duration 1..60 seconds";
    const char* kRegion = "Capture region width and height must be even and at least 64";
    struct Case {
        std::vector<std::string> args;
        int code;
        std::string message;
    } cases[] = {
        {{"--video-codec", "H264"}, 2, ""},
        {{"--video-codec", "H264", "--visual-profile", "a"}, 2, ""},
        {{"--visual-profile", "a", "--video-codec", "av1"}, 2, ""},
        {{"--visual-profile", "a"}, 9, "Visual profile must be A, B, C, D, E, F, or G"},
        {{"--visual-profile", "AB"}, 9, "Visual profile must be A, B, C, D, E, F, or G"},
        {{"--visual-profile", "H", "--fps", "50"}, 9, "Visual profile must be A, B, C, D, E, F, or G"},
        {{"--audio-channels", "4"}, 10, "Audio channels must be auto, 2, 6, or 8"},
        {{"--audio-channels", "258"}, 10, "Audio channels must be auto, 2, 6, or 8"},
        {{"--audio-channels", "5", "--fps", "50"}, 10, "Audio channels must be auto, 2, 6, or 8"},
        {{"--fps", "50"}, 11, "FPS must be 30, 60, 120, or 144"},
        {{"--fps", "0", "--width", "1"}, 11, "FPS must be 30, 60, 120, or 144"},
        {{"--test-drop-video-every", "1"}, 8, kImpairment},
        {{"--test-drop-video-every", "0", "--test-drop-delay-seconds", "0"}, 8, kImpairment},
        {{"--test-drop-delay-seconds", "31"}, 8, kImpairment},
        {{"--test-drop-duration-seconds", "61"}, 8, kImpairment},
        {{"--test-drop-duration-seconds", "0", "--width", "5"}, 8, kImpairment},
        {{"--width", "1920"}, 6, kSize},
        {{"--height", "1080"}, 6, kSize},
        {{"--width", "1920", "--height", "1200"}, 6, kSize},
        {{"--width", "1920", "--height", "1080", "--capture-width", "63", "--capture-height", "64"},
         16, kRegion},
        {{"--capture-width", "64"}, 16, kRegion},
        {{"--capture-width", "64", "--capture-height", "65"}, 16, kRegion},
    };
    for (const auto& c : cases) {
        const auto r = parse(c.args);
        std::string joined;
        for (const auto& a : c.args) joined += a + " ";
        EXPECT_EQ(r.exitCode, c.code) << joined;
        EXPECT_EQ(r.error, c.message) << joined;
    }
}

TEST(CommandLine, AcceptedValues) {
    struct Case {
        std::vector<std::string> args;
        std::function<bool(const EngineSettings&)> check;
        const char* what;
    } cases[] = {
        {{"--bitrate-mbps", "0"}, [](auto& s) { return s.bitrate == 1'000'000u; }, "0 Mbps gives 1"},
        {{"--bitrate-mbps", "250"}, [](auto& s) { return s.bitrate == 100'000'000u; }, "capped at 100"},
        {{"--bitrate-mbps", "35"}, [](auto& s) { return s.bitrate == 35'000'000u; }, "35"},
        {{"--audio-volume", "3"}, [](auto& s) { return s.audioVolume == 1.0f; }, "volume clamps to 1"},
        {{"--audio-volume", "-1"}, [](auto& s) { return s.audioVolume == 0.0f; }, "volume clamps to 0"},
        {{"--audio-volume", "0.25"}, [](auto& s) { return s.audioVolume == 0.25f; }, "volume 0.25"},
        {{"--audio-volume", "nan"}, [](auto& s) { return s.audioVolume == 1.0f; }, "NaN keeps 1"},
        {{"--visual-profile"}, [](auto& s) { return s.visualProfile == 7; }, "profile without value"},
        {{"--visual-profile", "C"}, [](auto& s) { return s.visualProfile == 3; }, "profile C"},
        {{"--audio-channels", "auto"}, [](auto& s) { return s.audioChannels == 0; }, "auto channels"},
        {{"--audio-channels", "8"}, [](auto& s) { return s.audioChannels == 8; }, "8 channels"},
        {{"--fps", "144", "--fps", "30"}, [](auto& s) { return s.fps == 30u; }, "later overrides"},
        {{"--width", "2560", "--height", "1440"},
         [](auto& s) { return s.width == 2560u && s.height == 1440u; }, "1440p"},
        {{"--capture-width", "0", "--capture-height", "0"},
         [](auto& s) { return s.region.width == 0u; }, "whole display"},
        {{"--capture-x", "10", "--capture-y", "20", "--capture-width", "640", "--capture-height", "480"},
         [](auto& s) { return s.region.x == 10u && s.region.y == 20u && s.region.width == 640u; },
         "region"},
        {{"--session-token", "18446744073709551615"},
         [](auto& s) { return s.sessionToken == 18446744073709551615ull; }, "full 64-bit token"},
        {{"--capture-window", "132456"}, [](auto& s) { return s.captureWindow == 132456u; }, "hwnd"},
        {{"--fixed-bitrate", "--audio-muted", "--show-cursor", "--video-codec", "hevc"},
         [](auto& s) {
             return !s.adaptiveBitrate && s.audioMuted && s.showCursor && s.videoCodec == "hevc";
         },
         "switches"},
        {{"--test-drop-video-every", "10", "--test-drop-delay-seconds", "1",
          "--test-drop-duration-seconds", "60"},
         [](auto& s) { return s.testDropEvery == 10u && s.testDropDurationSeconds == 60u; },
         "impairment"},
        {{"--capture-application", "C:\\Games\\Caf\xC3\xA9.exe"},
         [](auto& s) { return s.captureApplication == u"C:\\Games\\Caf\u00E9.exe"; }, "UTF-16 text"},
        {{"--probe-hevc-encoder", "--list-displays"},
         [](auto& s) { return s.probeHevcEncoder && s.listDisplays; }, "jobs anywhere"},
        {{"--Fps", "50"}, [](auto& s) { return s.fps == 60u; }, "names are case-sensitive"},
    };
    for (const auto& c : cases) {
        const auto r = parse(c.args);
        ASSERT_TRUE(r.accepted()) << c.what << ": " << r.error;
        EXPECT_TRUE(c.check(r.settings)) << c.what;
    }
}

TEST(CommandLine, FilePathsFirstPass) {
    struct Case {
        std::vector<std::string> args;
        const char* status;
        const char* control;
    } cases[] = {
        {{"--status-file", "s.json"}, "s.json", ""},
        {{"--status-file"}, "", ""},
        {{"--fps", "30", "--status-file"}, "", ""},
        {{"--status-file", "--control-file", "c.json"}, "--control-file", ""},
        {{"--control-file", "c.json", "--status-file", "s.json"}, "s.json", "c.json"},
        {{"--status-file", "a.json", "--status-file", "b.json"}, "b.json", ""},
        {{"--status-file", "Kamar \xC2\xB7 TV.json"}, "Kamar \xC2\xB7 TV.json", ""},
    };
    for (const auto& c : cases) {
        const auto r = parse(c.args);
        ASSERT_TRUE(r.accepted());
        EXPECT_EQ(path_to_utf8(r.settings.statusFile), c.status);
        EXPECT_EQ(path_to_utf8(r.settings.controlFile), c.control);
    }
    // The second pass does not know the file options, so a switch given as
    // their value still counts.
    EXPECT_FALSE(parse({"--status-file", "--fixed-bitrate"}).settings.adaptiveBitrate);
}

}  // namespace
}  // namespace zel
