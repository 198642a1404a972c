#include "host/core/engine_command.h"

#include "base/fs.h"
#include "base/process.h"
#include "host/core/settings.h"

namespace zel {

std::string quote_windows_argument_always(std::string_view arg) {
    std::string out = "\"";
    size_t backslashes = 0;
    for (const char c : arg) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        out.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
        backslashes = 0;
        out.push_back(c);
    }
    out.append(backslashes * 2, '\\');
    out.push_back('"');
    return out;
}

std::vector<CommandToken> engine_command_tokens(const std::filesystem::path& engineExecutable,
                                                const std::filesystem::path& statusPath,
                                                const std::filesystem::path& controlPath,
                                                const StreamProfile& p, const EngineChoices& c,
                                                uint64_t sessionToken) {
    std::vector<CommandToken> t;
    auto plain = [&](std::string s) { t.push_back({std::move(s), false}); };
    auto quoted = [&](std::string s) { t.push_back({std::move(s), true}); };
    quoted(path_to_utf8(engineExecutable));
    plain("--status-file");
    quoted(path_to_utf8(statusPath));
    plain("--visual-profile");
    plain("G");
    plain("--width");
    plain(std::to_string(p.width));
    plain("--height");
    plain(std::to_string(p.height));
    plain("--fps");
    plain(std::to_string(p.fps));
    plain("--bitrate-mbps");
    plain(std::to_string(p.bitrateMbps));
    plain("--video-codec");
    plain(p.videoCodec);
    plain("--audio-device");
    quoted(c.effectiveAudioDevice());
    plain("--audio-volume");
    plain("1.0");
    plain("--audio-channels");
    plain(audio_format_text(c.audioFormatIndex));
    plain("--control-file");
    quoted(path_to_utf8(controlPath));
    plain("--session-token");
    plain(std::to_string(sessionToken));
    if (!c.captureOutput.empty()) {
        plain("--capture-output");
        quoted(c.captureOutput);
    }
    if (!c.captureApplication.empty()) {
        plain("--capture-application");
        quoted(c.captureApplication);
        if (!c.captureWindowTitle.empty()) {
            plain("--capture-window-title");
            quoted(c.captureWindowTitle);
        }
    } else if (c.captureProcess != 0) {
        plain("--capture-process");
        plain(std::to_string(c.captureProcess));
    } else if (c.captureWindow != 0) {
        plain("--capture-window");
        plain(std::to_string(c.captureWindow));
    }
    if (c.regionSet()) {
        plain("--capture-x");
        plain(std::to_string(c.regionX));
        plain("--capture-y");
        plain(std::to_string(c.regionY));
        plain("--capture-width");
        plain(std::to_string(c.regionWidth));
        plain("--capture-height");
        plain(std::to_string(c.regionHeight));
    }
    if (!p.adaptiveBitrate) plain("--fixed-bitrate");
    if (c.audioMuted) plain("--audio-muted");
    if (c.showCursor) plain("--show-cursor");
    return t;
}

std::string windows_command_line(const std::vector<CommandToken>& tokens) {
    std::string line;
    for (const CommandToken& token : tokens) {
        if (!line.empty()) line.push_back(' ');
        line += token.quoted ? quote_windows_argument_always(token.text)
                             : quote_windows_argument(token.text);
    }
    return line;
}

std::string configuration_key(const StreamProfile& p, const EngineChoices& c,
                              uint64_t sessionToken) {
    // Texts are length-prefixed so that no two different choices can join
    // into the same key.
    std::string key;
    auto add = [&](std::string_view s) {
        key += std::to_string(s.size());
        key.push_back(':');
        key.append(s);
        key.push_back('|');
    };
    add(std::to_string(p.width) + "x" + std::to_string(p.height));
    add(std::to_string(p.fps));
    add(std::to_string(p.bitrateMbps));
    add(p.videoCodec);
    add(p.adaptiveBitrate ? "adaptive" : "manual");
    add(c.effectiveAudioDevice());
    add(audio_format_text(c.audioFormatIndex));
    add(c.mouseMode);
    add(c.captureOutput);
    add(std::to_string(c.captureWindow));
    add(std::to_string(c.captureProcess));
    add(c.captureApplication);
    add(c.captureWindowTitle);
    add(c.regionSet() ? std::to_string(c.regionX) + "," + std::to_string(c.regionY) + "," +
                            std::to_string(c.regionWidth) + "," + std::to_string(c.regionHeight)
                      : "full");
    add(c.showCursor ? "cursor" : "no-cursor");
    add(std::to_string(sessionToken));
    return key;
}

}  // namespace zel
