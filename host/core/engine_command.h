#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace zel {

// What a cast asks of the engine.
struct StreamProfile {
    uint32_t width = 1920;
    uint32_t height = 1080;
    uint32_t fps = 60;
    uint32_t bitrateMbps = 20;
    std::string videoCodec = "auto";
    bool adaptiveBitrate = true;
};

// The window's choices that shape the engine, read at each start.
struct EngineChoices {
    std::string accessCode;
    std::string audioDeviceId;  // empty: nothing valid selected, "default" is used
    int audioFormatIndex = 0;   // 0..3: "auto", "2", "6", "8"
    std::string mouseMode = "desktopAbsolute";
    std::string captureOutput;  // display name; empty: primary
    uint64_t captureWindow = 0;
    uint32_t captureProcess = 0;
    std::string captureApplication;
    std::string captureWindowTitle;
    // The region counts as set when its width and height are both non-zero.
    uint32_t regionX = 0, regionY = 0, regionWidth = 0, regionHeight = 0;
    bool audioMuted = false;
    bool showCursor = false;

    bool regionSet() const { return regionWidth != 0 && regionHeight != 0; }
    std::string effectiveAudioDevice() const {
        return audioDeviceId.empty() ? "default" : audioDeviceId;
    }
};

// One token of the engine's command line. Quoted tokens (paths, device and
// display names, application and title) are always wrapped in quotation marks
// on Windows; the others only when they need it.
struct CommandToken {
    std::string text;
    bool quoted = false;
};

std::vector<CommandToken> engine_command_tokens(const std::filesystem::path& engineExecutable,
                                                const std::filesystem::path& statusPath,
                                                const std::filesystem::path& controlPath,
                                                const StreamProfile& profile,
                                                const EngineChoices& choices,
                                                uint64_t sessionToken);

// The Windows command line of the tokens (program first), by the C runtime's
// argument rules, so every value reaches the engine unchanged.
std::string windows_command_line(const std::vector<CommandToken>& tokens);
// A token wrapped in quotation marks: inner quotation marks preceded by a
// backslash, backslashes before a quotation mark or the closing mark doubled.
std::string quote_windows_argument_always(std::string_view arg);

// Decides whether a running engine can be kept: any change of the profile,
// audio device or channels, mouse mode, capture target, region, cursor choice
// or token gives a different key.
std::string configuration_key(const StreamProfile& profile, const EngineChoices& choices,
                              uint64_t sessionToken);

}  // namespace zel
