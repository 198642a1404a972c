#pragma once

#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <sstream>
#include <string>
#include <vector>

#include "base/process.h"
#include "tests/support/engine_process.h"

namespace zel {

inline std::filesystem::path find_program(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::stringstream folders(path ? path : "/usr/bin:/bin");
    std::string folder;
    while (std::getline(folders, folder, ':')) {
        const auto candidate = std::filesystem::path(folder) / name;
        if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    return {};
}

// 16-bit stereo 44.1 kHz WAV: a sine of `hz` on the left channel, silence on
// the right.
inline void write_tone_wav(const std::filesystem::path& file, double hz, double seconds) {
    const uint32_t rate = 44100;
    const uint32_t frames = static_cast<uint32_t>(rate * seconds);
    std::string data;
    auto u16 = [&](uint16_t v) {
        data.push_back(char(v & 0xFF));
        data.push_back(char(v >> 8));
    };
    auto u32 = [&](uint32_t v) {
        u16(uint16_t(v));
        u16(uint16_t(v >> 16));
    };
    auto tag = [&](const char* t) { data.append(t, 4); };
    tag("RIFF");
    u32(36 + frames * 4);
    tag("WAVE");
    tag("fmt ");
    u32(16);
    u16(1);
    u16(2);
    u32(rate);
    u32(rate * 4);
    u16(4);
    u16(16);
    tag("data");
    u32(frames * 4);
    for (uint32_t i = 0; i < frames; ++i) {
        u16(static_cast<uint16_t>(
            static_cast<int16_t>(16000 * std::sin(2 * std::numbers::pi * hz * i / rate))));
        u16(0);
    }
    std::ofstream(file, std::ios::binary) << data;
}

// A PulseAudio daemon of the test's own with the null sinks "zel_a" (the
// default, described "ZelSinkA") and "zel_b" ("ZelSinkB"). Everything it and
// its clients keep goes to `root`; PULSE_SERVER points at it, so children
// started afterwards (the engine) use it too. Killed with the object.
class PrivatePulseAudio {
  public:
    // Empty when pulseaudio is installed, else why the test cannot run.
    static std::string unavailableReason() {
        if (find_program("pulseaudio").empty())
            return "no pulseaudio binary; install pulseaudio to run this test";
        if (find_program("pactl").empty() || find_program("paplay").empty())
            return "pulseaudio-utils (pactl, paplay) missing";
        return "";
    }

    // Empty on success, else what went wrong.
    std::string start(const std::filesystem::path& rootFolder) {
        const std::string root = rootFolder.string();
        setenv("HOME", root.c_str(), 1);
        setenv("XDG_RUNTIME_DIR", root.c_str(), 1);
        setenv("XDG_CONFIG_HOME", root.c_str(), 1);
        setenv("PULSE_RUNTIME_PATH", (root + "/runtime").c_str(), 1);
        setenv("PULSE_STATE_PATH", (root + "/state").c_str(), 1);
        setenv("PULSE_SERVER", ("unix:" + root + "/native").c_str(), 1);
        pactl_ = find_program("pactl");
        paplay_ = find_program("paplay");
        ChildProcess::Options options;
        options.captureOutput = true;
        if (!server_.start(
                find_program("pulseaudio"),
                {"-n", "--daemonize=no", "--exit-idle-time=-1", "--disable-shm=yes",
                 "--use-pid-file=no", "--log-target=stderr", "-L",
                 "module-null-sink sink_name=zel_a sink_properties=device.description=ZelSinkA",
                 "-L",
                 "module-null-sink sink_name=zel_b sink_properties=device.description=ZelSinkB",
                 "-L", "module-native-protocol-unix auth-anonymous=1 socket=" + root + "/native"},
                options)) {
            return "pulseaudio did not start: " + server_.error();
        }
        if (!eventually([&] { return pactl({"info"}); }, 10000))
            return "pulseaudio does not answer: " + server_.standardError();
        if (!pactl({"set-default-sink", "zel_a"})) return "pactl set-default-sink failed";
        return "";
    }
    ~PrivatePulseAudio() {
        player_.kill();
        server_.kill();
    }

    bool pactl(const std::vector<std::string>& args) {
        return run_and_capture(pactl_, args, 10000).exitCode == 0;
    }
    // Plays a WAV file into `sink` in the background.
    bool play(const std::filesystem::path& wav, const std::string& sink) {
        return player_.start(paplay_, {"--device=" + sink, "--latency-msec=20", wav.string()}, {});
    }

  private:
    ChildProcess server_;
    ChildProcess player_;
    std::filesystem::path pactl_, paplay_;
};

}  // namespace zel
