#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "engine/video/capture_region.h"

namespace zel {

inline constexpr uint16_t kEnginePort = 48300;
inline constexpr const char* kEngineVersion = "0.2.3";
inline constexpr int kProtocolVersion = 2;

// Everything the command line sets; read-only once parsed and handed to every
// session.
struct EngineSettings {
    std::filesystem::path statusFile;   // empty: no status file
    std::filesystem::path controlFile;  // empty: no control file
    uint32_t width = 0;                 // 0 x 0: the source's own size
    uint32_t height = 0;
    uint32_t fps = 60;
    uint32_t bitrate = 20'000'000;  // bits per second
    bool adaptiveBitrate = true;
    std::string videoCodec = "auto";  // "auto", "h264" or "hevc"
    std::u16string audioDevice;       // empty: the default output
    float audioVolume = 1.0f;
    bool audioMuted = false;
    uint8_t audioChannels = 0;  // 0 = auto
    bool showCursor = false;
    uint32_t testDropEvery = 0;  // 0 = no test impairment
    uint32_t testDropDelaySeconds = 5;
    uint32_t testDropDurationSeconds = 5;
    uint8_t visualProfile = 7;  // 1..7 for "A".."G"
    uint64_t sessionToken = 0;  // 0 = no authentication
    std::u16string captureOutput;
    uint64_t captureWindow = 0;  // window handle value; 0 = none
    uint32_t captureProcess = 0;
    std::u16string captureApplication;
    std::u16string captureWindowTitle;
    CaptureRegion region;

    bool listDisplays = false;
    bool listAudioDevices = false;
    bool probeColorConverter = false;
    bool probeBitrateReconfigure = false;
    bool probeSoftwareEncoder = false;
    bool probeHevcEncoder = false;
    bool probeWindowCapture = false;
};

}  // namespace zel
