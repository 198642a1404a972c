#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace zel {

// One status write. Defaults are the values outside a session.
struct StatusReport {
    std::string state;
    std::string message;
    std::string backend;
    std::string gpu;
    std::string display;
    uint32_t width = 0;
    uint32_t height = 0;
    double fps = 0;
    double captureMs = 0;
    double encodeMs = 0;
    double bitrateMbps = 0;
    double targetBitrateMbps = 0;
    double mediaBitrateMbps = 0;
    double injectedPacketLossPercent = 0;
    double rttMs = 0;
    double packetLossPercent = 0;
    int64_t decoderQueue = 0;
    int64_t mediaQueue = 0;
    double avSyncMs = 0;
    int64_t audioUnderruns = 0;
    double audioBufferedMs = 0;
    double hostAudioPacketsPerSecond = 0;
    double receiverAudioSampleRate = 0;
    std::string audioDevice;
    std::string audioError;
    double audioVolumePercent = 100;
    bool audioMuted = false;
    bool cursorVisible = false;
    bool cursorCapable = false;
    std::optional<double> startupMs;            // null until the receiver reports it
    std::optional<double> referenceRecoveryMs;  // null until the receiver reports it
    double receiverFps = 0;
    int64_t receiverTargetFps = 0;
    int64_t receiverMaxDecoderQueue = 0;
    int64_t receiverThermalStatus = 0;
    int64_t receiverAvailableMemoryMb = 0;
    bool receiverHevcCapable = false;
    std::string codec;
    int64_t audioChannels = 2;
};

// The figures every write fills in itself, whatever the state.
struct ProcessFigures {
    uint32_t processId = 0;
    double processCpuPercent = 0;
    double workingSetMiB = 0;
    bool gamepadAvailable = false;
    std::string gamepadMessage;
};

// A report with only state and message set: what is written outside a session.
StatusReport idle_status(std::string state, std::string message);

// The status object as one line of JSON, keys in their fixed order.
std::string render_status_json(const StatusReport& report, const ProcessFigures& figures);

// Fills in the process figures (CPU share since the previous write, working
// set, gamepad state) and replaces the file atomically. Does nothing when the
// path is empty; a file that cannot be written is left as it was.
void writeStatus(const std::filesystem::path& path, const StatusReport& report);

}  // namespace zel
