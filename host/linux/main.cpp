// zel-stream-host: the host's command-line front end on Linux. It shares the
// settings store, localisation and engine supervisor with the Windows window.
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "base/process.h"
#include "host/core/engine_supervisor.h"
#include "host/core/folders.h"
#include "host/core/session_token.h"
#include "host/core/settings.h"
#include "host/ui/localisation.h"

namespace zel {
namespace {

std::atomic<bool> g_interrupted{false};

void on_interrupt(int) {
    g_interrupted = true;
}

const char kUsage[] =
    "Usage: zel-stream-host COMMAND [ARGUMENTS]\n"
    "\n"
    "Commands:\n"
    "  settings list               show every setting and its current value\n"
    "  settings get NAME           show one setting\n"
    "  settings set NAME VALUE     store a setting (numbers: unsigned decimal)\n"
    "  token CODE                  show the session token of a 4-character device code\n"
    "  audio-devices               list the engine's audio outputs (id, name)\n"
    "  engine [OPTIONS]            start the engine with the saved settings and show its\n"
    "                              status every second until Ctrl-C, then stop it\n"
    "      --width N --height N    output size (default 1920 x 1080)\n"
    "      --fps N                 frame rate (default 60)\n"
    "      --bitrate N             target bitrate in Mbps (default 20)\n"
    "      --codec auto|h264|hevc  video codec (default auto)\n"
    "      --fixed-bitrate         turn adaptive bitrate off\n"
    "      --code CODE             device code to use instead of the saved AccessCode\n"
    "  --help                      show this text\n"
    "\n"
    "Settings are kept in $XDG_CONFIG_HOME/zel-stream-host (default ~/.config).\n";

int usage_error(const std::string& message) {
    std::fprintf(stderr, "zel-stream-host: %s\nTry 'zel-stream-host --help'.\n", message.c_str());
    return 2;
}

bool parse_unsigned(const std::string& text, uint32_t& value) {
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return !text.empty() && ec == std::errc() && ptr == end;
}

std::string current_value(HostSettings& settings, const SettingDefinition& d) {
    if (d.isNumber) return std::to_string(settings.readDword(d.name, d.jsonKey, d.numberDefault));
    return settings.readStringMigrating(d.name, d.jsonKey, d.textDefault);
}

int settings_command(HostSettings& settings, const std::vector<std::string>& args) {
    if (args.empty()) return usage_error("settings needs list, get or set");
    if (args[0] == "list" && args.size() == 1) {
        for (const SettingDefinition& d : setting_definitions()) {
            std::printf("%-24s %-6s %s\n", d.name, d.isNumber ? "dword" : "text",
                        current_value(settings, d).c_str());
        }
        return 0;
    }
    if (args[0] == "get" && args.size() == 2) {
        const SettingDefinition* d = find_setting(args[1]);
        if (!d) return usage_error("unknown setting '" + args[1] + "'");
        std::printf("%s\n", current_value(settings, *d).c_str());
        return 0;
    }
    if (args[0] == "set" && args.size() == 3) {
        const SettingDefinition* d = find_setting(args[1]);
        if (!d) return usage_error("unknown setting '" + args[1] + "'");
        bool ok = false;
        if (d->isNumber) {
            uint32_t value = 0;
            if (!parse_unsigned(args[2], value)) {
                return usage_error(std::string(d->name) + " takes an unsigned decimal number");
            }
            ok = settings.store().writeNumber(d->name, value);
        } else {
            ok = settings.store().writeText(d->name, args[2]);
        }
        if (!ok) {
            std::fprintf(stderr, "zel-stream-host: could not write %s\n", d->name);
            return 1;
        }
        return 0;
    }
    return usage_error("settings needs list, get NAME or set NAME VALUE");
}

EngineChoices saved_choices(HostSettings& s) {
    EngineChoices c;
    c.accessCode = s.readStringMigrating("AccessCode", "access_code", "");
    const std::string device = s.readStringMigrating("AudioDeviceId", "audio_device_id", "default");
    c.audioDeviceId = device;
    const std::string format = s.readStringMigrating("AudioFormat", "audio_format", "auto");
    c.audioFormatIndex = format == "2" ? 1 : format == "6" ? 2 : format == "8" ? 3 : 0;
    c.mouseMode = s.readStringMigrating("MouseMode", "mouse_mode", "desktopAbsolute");
    c.captureOutput = s.readStringMigrating("CaptureOutput", "capture_output", "");
    c.captureApplication = s.readStringMigrating("CaptureApplication", "capture_application", "");
    c.captureWindowTitle = s.readStringMigrating("CaptureWindowTitle", "capture_window_title", "");
    c.regionX = s.readDword("CaptureRegionX", "capture_region_x", 0);
    c.regionY = s.readDword("CaptureRegionY", "capture_region_y", 0);
    c.regionWidth = s.readDword("CaptureRegionWidth", "capture_region_width", 0);
    c.regionHeight = s.readDword("CaptureRegionHeight", "capture_region_height", 0);
    c.audioMuted = s.readDword("AudioMuted", "audio_muted", 0) != 0;
    c.showCursor = s.readDword("ShowCursor", "show_cursor", 0) != 0;
    return c;
}

int engine_command(HostSettings& settings, const std::vector<std::string>& args) {
    StreamProfile profile;
    std::string codeOverride;
    bool haveCode = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--fixed-bitrate") {
            profile.adaptiveBitrate = false;
            continue;
        }
        if (i + 1 >= args.size()) return usage_error("unknown engine option '" + a + "'");
        const std::string& v = args[++i];
        uint32_t* number = a == "--width"     ? &profile.width
                           : a == "--height"  ? &profile.height
                           : a == "--fps"     ? &profile.fps
                           : a == "--bitrate" ? &profile.bitrateMbps
                                              : nullptr;
        if (number) {
            if (!parse_unsigned(v, *number)) return usage_error(a + " takes a number");
        } else if (a == "--codec") {
            if (v != "auto" && v != "h264" && v != "hevc") {
                return usage_error("--codec takes auto, h264 or hevc");
            }
            profile.videoCodec = v;
        } else if (a == "--code") {
            codeOverride = v;
            haveCode = true;
        } else {
            return usage_error("unknown engine option '" + a + "'");
        }
    }

    const HostFolders folders = default_host_folders();
    EngineSupervisor::Config config;
    config.installFolder = folders.install;
    config.engineFolder = folders.engine;
    EngineSupervisor supervisor(config, [&] {
        EngineChoices c = saved_choices(settings);
        if (haveCode) c.accessCode = codeOverride;
        return c;
    });

    struct sigaction action {};
    action.sa_handler = on_interrupt;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);

    std::printf("%s\n", text("windows_2").c_str());
    std::fflush(stdout);
    if (!supervisor.startEngine(profile, false)) {
        std::fprintf(stderr, "%s\n", supervisor.lastError().c_str());
        return 1;
    }
    const bool tty = ::isatty(STDOUT_FILENO);
    StatusView shown;
    while (!g_interrupted) {
        const StatusView v = supervisor.pollStatus();
        if (v.update) shown = v;
        if (!shown.header.empty()) {
            // In place on a terminal; one line per second otherwise.
            std::printf(tty ? "\r\033[K%s · %s" : "%s · %s\n", shown.header.c_str(),
                        shown.detail.c_str());
            std::fflush(stdout);
        }
        if (!supervisor.engineRunning()) {
            std::fprintf(stderr, "%s%s\n", tty ? "\n" : "", text("host_message_152").c_str());
            return 1;
        }
        for (int i = 0; i < 10 && !g_interrupted; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    }
    if (tty) std::printf("\n");
    supervisor.stopEngine();
    std::printf("%s\n", text("host_message_108").c_str());
    return 0;
}

int run(const std::vector<std::string>& argv) {
    if (argv.size() < 2 || argv[1] == "--help" || argv[1] == "-h") {
        std::fputs(kUsage, argv.size() < 2 ? stderr : stdout);
        return argv.size() < 2 ? 2 : 0;
    }
    auto store = make_settings_store();
    HostSettings settings(*store, default_host_folders().legacySettingsFile());
    set_language_mode(language_mode_from_setting(settings.readString("Language", "auto")));

    const std::string& command = argv[1];
    const std::vector<std::string> rest(argv.begin() + 2, argv.end());
    if (command == "settings") return settings_command(settings, rest);
    if (command == "token") {
        if (rest.size() != 1) return usage_error("token needs one CODE");
        const uint64_t token = sessionToken(rest[0]);
        if (token == 0) {
            std::fprintf(stderr, "%s\n", text("host_message_83").c_str());
            return 1;
        }
        std::printf("%llu\n", static_cast<unsigned long long>(token));
        return 0;
    }
    if (command == "audio-devices") {
        if (!rest.empty()) return usage_error("audio-devices takes no arguments");
        EngineSupervisor::Config config;
        config.installFolder = default_host_folders().install;
        config.engineFolder = default_host_folders().engine;
        EngineSupervisor supervisor(config, [] { return EngineChoices{}; });
        const auto devices = supervisor.listEngineAudioDevices();
        if (devices.empty()) {
            std::fprintf(stderr, "zel-stream-host: the engine listed no audio outputs\n");
            return 1;
        }
        for (const auto& d : devices) std::printf("%s\t%s\n", d.id.c_str(), d.name.c_str());
        return 0;
    }
    if (command == "engine") return engine_command(settings, rest);
    return usage_error("unknown command '" + command + "'");
}

}  // namespace
}  // namespace zel

int main(int argc, char** argv) {
    return zel::run(zel::utf8_command_line(argc, argv));
}
