// The PulseAudio client against a real, private PulseAudio server with two
// null sinks: a tone played into a sink comes back through its monitor.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <numbers>
#include <sstream>
#include <thread>

#include "base/fs.h"
#include "base/process.h"
#include "engine/audio/audio_loopback_capture.h"
#include "tests/support/engine_process.h"
#include "tests/support/opus_decode.h"
#include "tests/support/temp_dir.h"

namespace zel {
namespace {

std::filesystem::path find_program(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::stringstream folders(path ? path : "/usr/bin:/bin");
    std::string folder;
    while (std::getline(folders, folder, ':')) {
        const auto candidate = std::filesystem::path(folder) / name;
        if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    return {};
}

// 16-bit stereo WAV: a sine of `hz` on the left channel, silence on the right.
void write_tone_wav(const std::filesystem::path& file, double hz, double seconds) {
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

// A PulseAudio daemon of the test's own, reached through PULSE_SERVER, with
// the null sinks "zel_a" (default) and "zel_b". Killed at the end.
class PulseAudioServer : public ::testing::Test {
  protected:
    void SetUp() override {
        const auto daemon = find_program("pulseaudio");
        if (daemon.empty())
            GTEST_SKIP() << "no pulseaudio binary; install pulseaudio to run this test";
        pactl_ = find_program("pactl");
        paplay_ = find_program("paplay");
        ASSERT_FALSE(pactl_.empty() || paplay_.empty())
            << "pulseaudio-utils (pactl, paplay) missing";
        const std::string root = dir_.path().string();
        // Everything the daemon and its clients keep goes to the test's folder.
        setenv("HOME", root.c_str(), 1);
        setenv("XDG_RUNTIME_DIR", root.c_str(), 1);
        setenv("XDG_CONFIG_HOME", root.c_str(), 1);
        setenv("PULSE_RUNTIME_PATH", (root + "/runtime").c_str(), 1);
        setenv("PULSE_STATE_PATH", (root + "/state").c_str(), 1);
        setenv("PULSE_SERVER", ("unix:" + root + "/native").c_str(), 1);
        ChildProcess::Options options;
        options.captureOutput = true;
        ASSERT_TRUE(server_.start(
            daemon,
            {"-n", "--daemonize=no", "--exit-idle-time=-1", "--disable-shm=yes",
             "--use-pid-file=no", "--log-target=stderr", "-L",
             "module-null-sink sink_name=zel_a sink_properties=device.description=ZelSinkA", "-L",
             "module-null-sink sink_name=zel_b sink_properties=device.description=ZelSinkB", "-L",
             "module-native-protocol-unix auth-anonymous=1 socket=" + root + "/native"},
            options))
            << server_.error();
        ASSERT_TRUE(eventually([&] { return pactl({"info"}); }, 10000)) << server_.standardError();
        ASSERT_TRUE(pactl({"set-default-sink", "zel_a"}));
    }
    void TearDown() override {
        player_.kill();
        server_.kill();
    }

    bool pactl(const std::vector<std::string>& args) {
        return run_and_capture(pactl_, args, 10000).exitCode == 0;
    }
    void play(const std::filesystem::path& wav, const std::string& sink) {
        ASSERT_TRUE(
            player_.start(paplay_, {"--device=" + sink, "--latency-msec=20", wav.string()}, {}))
            << player_.error();
    }

    TempDir dir_;
    ChildProcess server_;
    ChildProcess player_;
    std::filesystem::path pactl_, paplay_;
};

struct Packets {
    std::mutex lock;
    std::vector<EncodedAudioFrame> frames;
    std::vector<std::chrono::steady_clock::time_point> at;
    AudioFrameSink sink() {
        return [this](const EncodedAudioFrame& f) {
            std::lock_guard<std::mutex> l(lock);
            frames.push_back(f);
            at.push_back(std::chrono::steady_clock::now());
            return true;
        };
    }
    size_t count() {
        std::lock_guard<std::mutex> l(lock);
        return frames.size();
    }
};

TEST_F(PulseAudioServer, ToneThroughTheMonitorKeepsPitchChannelAndPace) {
    const auto wav = dir_.path() / "tone.wav";
    write_tone_wav(wav, 1000, 6.0);
    Packets packets;
    AudioLoopbackCapture capture(packets.sink(), u"zel_a", 1.0f, false, 2);
    capture.start();
    ASSERT_TRUE(
        eventually([&] { return capture.isActive() || !capture.lastError().empty(); }, 10000));
    ASSERT_TRUE(capture.isActive()) << capture.lastError();
    EXPECT_EQ(capture.deviceName(), "ZelSinkA");
    play(wav, "zel_a");
    // The null sink buffers up to 2 s before its monitor hears the tone.
    std::this_thread::sleep_for(std::chrono::milliseconds(4500));
    capture.stop();
    EXPECT_EQ(capture.lastError(), "");

    const auto& frames = packets.frames;
    ASSERT_GT(frames.size(), 250u);
    for (size_t i = 0; i < frames.size(); ++i) {
        ASSERT_EQ(frames[i].sequence, i) << "sequence gap";
        ASSERT_EQ(frames[i].timestampUs - frames[0].timestampUs, static_cast<int64_t>(i * 10'000));
    }
    const double seconds =
        std::chrono::duration<double>(packets.at.back() - packets.at.front()).count();
    EXPECT_NEAR((frames.size() - 1) / seconds, 100.0, 5.0);

    OpusTestDecoder decoder(2);
    std::vector<float> pcm;
    for (const auto& f : frames) decoder.decode(f.data, pcm);
    size_t first = 0;
    while (first < pcm.size() / 2 && std::fabs(pcm[first * 2]) < 0.1f) ++first;
    const size_t start = first + 4800, length = 48000;  // one second once the tone is steady
    ASSERT_LE(start + length, pcm.size() / 2) << "the tone did not arrive in time: " << first;
    // The median distance between rising zero crossings is robust against
    // the odd silence block a loaded machine can cause: 48 samples at 1 kHz.
    std::vector<double> periods;
    double lastRise = -1;
    for (size_t i = start + 1; i < start + length; ++i) {
        const float a = pcm[(i - 1) * 2], b = pcm[i * 2];
        if (a < 0 && b >= 0) {
            const double rise = double(i - 1) + a / (a - b);
            if (lastRise >= 0) periods.push_back(rise - lastRise);
            lastRise = rise;
        }
    }
    ASSERT_GT(periods.size(), 900u);
    std::nth_element(periods.begin(), periods.begin() + std::ptrdiff_t(periods.size() / 2),
                     periods.end());
    EXPECT_NEAR(48000.0 / periods[periods.size() / 2], 1000.0, 5.0) << "tone frequency";
    std::vector<float> window(pcm.begin() + std::ptrdiff_t(start * 2),
                              pcm.begin() + std::ptrdiff_t((start + length) * 2));
    const double left = channel_rms(window, 2, 0), right = channel_rms(window, 2, 1);
    EXPECT_NEAR(left, 16000 / 32768.0 / std::sqrt(2.0), 0.05);
    EXPECT_LT(right, left / 30) << "the tone stays on the left";
}

// The session's restart rule (start again when inactive, at most once a
// second) against a real change of the default sink.
TEST_F(PulseAudioServer, DefaultSinkChangeRestartsCaptureFromSequenceZero) {
    Packets packets;
    AudioLoopbackCapture capture(packets.sink(), u"", 1.0f, false, 2);
    using Clock = std::chrono::steady_clock;
    auto lastAttempt = Clock::now();
    capture.start();
    ASSERT_TRUE(
        eventually([&] { return capture.isActive() || !capture.lastError().empty(); }, 10000));
    ASSERT_TRUE(capture.isActive()) << capture.lastError();
    EXPECT_EQ(capture.deviceName(), "ZelSinkA");
    ASSERT_TRUE(eventually([&] { return packets.count() >= 50; }, 5000));

    const size_t before = packets.count();
    const auto switched = Clock::now();
    ASSERT_TRUE(pactl({"set-default-sink", "zel_b"}));
    std::string reason;
    size_t restartIndex = 0;
    while (Clock::now() - switched < std::chrono::seconds(5) && restartIndex == 0) {
        if (!capture.isActive() && Clock::now() - lastAttempt >= std::chrono::seconds(1)) {
            if (reason.empty()) reason = capture.lastError();
            capture.start();
            lastAttempt = Clock::now();
        }
        {
            std::lock_guard<std::mutex> l(packets.lock);
            for (size_t i = before; i < packets.frames.size(); ++i) {
                if (packets.frames[i].sequence == 0) {
                    restartIndex = i;
                    break;
                }
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_NE(restartIndex, 0u) << "capture did not restart; " << capture.lastError();
    const double restartSeconds =
        std::chrono::duration<double>(packets.at[restartIndex] - switched).count();
    std::printf("default change to first packet of the new run: %.3f s\n", restartSeconds);
    EXPECT_LT(restartSeconds, 2.0);
    EXPECT_EQ(reason, "Default audio output changed; reopening loopback");
    EXPECT_EQ(capture.deviceName(), "ZelSinkB");
    capture.stop();
}

TEST_F(PulseAudioServer, MissingSinkWaitsToReconnect) {
    Packets packets;
    AudioLoopbackCapture capture(packets.sink(), u"zel_missing", 1.0f, false, 2);
    capture.start();
    ASSERT_TRUE(eventually([&] { return !capture.lastError().empty(); }, 10000));
    EXPECT_EQ(capture.lastError(), "Selected audio output is unavailable; waiting to reconnect");
    EXPECT_FALSE(capture.isActive());
    EXPECT_EQ(packets.count(), 0u);
}

TEST_F(PulseAudioServer, EngineListsTheSinks) {
    const RunResult r = run_and_capture(engine_binary(), {"--list-audio-devices"}, 30000);
    ASSERT_TRUE(r.started);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out,
              "[{\"id\":\"zel_a\",\"name\":\"ZelSinkA\",\"default\":true},"
              "{\"id\":\"zel_b\",\"name\":\"ZelSinkB\",\"default\":false}]\n");
}

}  // namespace
}  // namespace zel
