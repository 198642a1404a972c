#include "engine/core/command_line.h"

#include <cmath>
#include <cstdlib>
#include <string_view>

#include "base/fs.h"
#include "base/text.h"

namespace zel {

namespace {

uint32_t read_u32(const std::string& v) { return uint32_t(std::strtoul(v.c_str(), nullptr, 10)); }
uint64_t read_u64(const std::string& v) { return std::strtoull(v.c_str(), nullptr, 10); }

float read_volume(const std::string& v) {
    const float f = float(std::strtod(v.c_str(), nullptr));
    if (std::isnan(f)) return 1.0f;  // no meaningful gain: keep the default
    return f < 0.0f ? 0.0f : (f > 1.0f ? 1.0f : f);
}

bool supported_size(uint32_t w, uint32_t h) {
    return (w == 1280 && h == 720) || (w == 1920 && h == 1080) || (w == 2560 && h == 1440) ||
           (w == 3840 && h == 2160);
}

CommandLineResult refuse(CommandLineResult r, int code, std::string message) {
    r.exitCode = code;
    r.error = std::move(message);
    return r;
}

}  // namespace

CommandLineResult parse_command_line(const std::vector<std::string>& args) {
    CommandLineResult result;
    EngineSettings& s = result.settings;
    const size_t count = args.size();

    // First pass: the two file paths. A value is never looked at as a name.
    for (size_t i = 1; i + 1 < count; ++i) {
        if (args[i] == "--status-file") {
            s.statusFile = path_from_utf8(args[++i]);
        } else if (args[i] == "--control-file") {
            s.controlFile = path_from_utf8(args[++i]);
        }
    }

    // Second pass: everything else. Numbers are kept wide until validated so
    // that an out-of-range value is refused rather than wrapped into range.
    uint32_t audioChannels = 0;
    uint32_t visualProfile = 7;
    for (size_t i = 1; i < count; ++i) {
        const std::string_view a = args[i];
        const bool hasValue = i + 1 < count;
        if (a == "--list-displays") {
            s.listDisplays = true;
        } else if (a == "--list-audio-devices") {
            s.listAudioDevices = true;
        } else if (a == "--probe-color-converter") {
            s.probeColorConverter = true;
        } else if (a == "--probe-bitrate-reconfigure") {
            s.probeBitrateReconfigure = true;
        } else if (a == "--probe-software-encoder") {
            s.probeSoftwareEncoder = true;
        } else if (a == "--probe-hevc-encoder") {
            s.probeHevcEncoder = true;
        } else if (a == "--probe-window-capture") {
            s.probeWindowCapture = true;
        } else if (a == "--fixed-bitrate") {
            s.adaptiveBitrate = false;
        } else if (a == "--audio-muted") {
            s.audioMuted = true;
        } else if (a == "--show-cursor") {
            s.showCursor = true;
        } else if (!hasValue) {
            continue;  // an option that needs a value is ignored without one
        } else if (a == "--video-codec") {
            const std::string& v = args[++i];
            if (v != "auto" && v != "h264" && v != "hevc") return refuse(result, 2, "");
            s.videoCodec = v;
        } else if (a == "--width") {
            s.width = read_u32(args[++i]);
        } else if (a == "--height") {
            s.height = read_u32(args[++i]);
        } else if (a == "--fps") {
            s.fps = read_u32(args[++i]);
        } else if (a == "--bitrate-mbps") {
            uint32_t mbps = read_u32(args[++i]);
            if (mbps == 0) mbps = 1;
            if (mbps > 100) mbps = 100;
            s.bitrate = mbps * 1'000'000u;
        } else if (a == "--audio-device") {
            s.audioDevice = utf8_to_utf16(args[++i]);
        } else if (a == "--audio-volume") {
            s.audioVolume = read_volume(args[++i]);
        } else if (a == "--audio-channels") {
            const std::string& v = args[++i];
            audioChannels = v == "auto" ? 0 : read_u32(v);
        } else if (a == "--test-drop-video-every") {
            s.testDropEvery = read_u32(args[++i]);
        } else if (a == "--test-drop-delay-seconds") {
            s.testDropDelaySeconds = read_u32(args[++i]);
        } else if (a == "--test-drop-duration-seconds") {
            s.testDropDurationSeconds = read_u32(args[++i]);
        } else if (a == "--visual-profile") {
            const std::string& v = args[++i];
            visualProfile = (v.size() == 1 && v[0] >= 'A' && v[0] <= 'G') ? uint32_t(v[0] - 'A' + 1) : 0;
        } else if (a == "--session-token") {
            s.sessionToken = read_u64(args[++i]);
        } else if (a == "--capture-output") {
            s.captureOutput = utf8_to_utf16(args[++i]);
        } else if (a == "--capture-window") {
            s.captureWindow = read_u64(args[++i]);
        } else if (a == "--capture-process") {
            s.captureProcess = read_u32(args[++i]);
        } else if (a == "--capture-application") {
            s.captureApplication = utf8_to_utf16(args[++i]);
        } else if (a == "--capture-window-title") {
            s.captureWindowTitle = utf8_to_utf16(args[++i]);
        } else if (a == "--capture-x") {
            s.region.x = read_u32(args[++i]);
        } else if (a == "--capture-y") {
            s.region.y = read_u32(args[++i]);
        } else if (a == "--capture-width") {
            s.region.width = read_u32(args[++i]);
        } else if (a == "--capture-height") {
            s.region.height = read_u32(args[++i]);
        }
    }

    if (visualProfile == 0) {
        return refuse(result, 9, "Visual profile must be A, B, C, D, E, F, or G");
    }
    s.visualProfile = uint8_t(visualProfile);
    if (audioChannels != 0 && audioChannels != 2 && audioChannels != 6 && audioChannels != 8) {
        return refuse(result, 10, "Audio channels must be auto, 2, 6, or 8");
    }
    s.audioChannels = uint8_t(audioChannels);
    if (s.fps != 30 && s.fps != 60 && s.fps != 120 && s.fps != 144) {
        return refuse(result, 11, "FPS must be 30, 60, 120, or 144");
    }
    if (s.testDropEvery == 1 || s.testDropDelaySeconds < 1 || s.testDropDelaySeconds > 30 ||
        s.testDropDurationSeconds < 1 || s.testDropDurationSeconds > 60) {
        return refuse(result, 8,
                      "Test impairment requires interval >=2, delay 1..30, and duration 1..60 "
                      "seconds");
    }
    if ((s.width == 0) != (s.height == 0) ||
        (s.width != 0 && !supported_size(s.width, s.height))) {
        return refuse(result, 6,
                      "Supported resolutions are native, 1280x720, 1920x1080, 2560x1440, or "
                      "3840x2160");
    }
    const uint32_t rw = s.region.width, rh = s.region.height;
    if ((rw == 0) != (rh == 0) ||
        (rw != 0 && (rw < 64 || rh < 64 || (rw % 2) != 0 || (rh % 2) != 0))) {
        return refuse(result, 16, "Capture region width and height must be even and at least 64");
    }
    return result;
}

}  // namespace zel
