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
#include "tests/support/pulse_server.h"
#include "tests/support/temp_dir.h"

namespace zel {
namespace {

// A test with a private PulseAudio server of its own (see PrivatePulseAudio).
class PulseAudioServer : public ::testing::Test {
  protected:
    void SetUp() override {
        const std::string missing = PrivatePulseAudio::unavailableReason();
        if (!missing.empty()) GTEST_SKIP() << missing;
        ASSERT_EQ(pulse_.start(dir_.path()), "");
    }

    bool pactl(const std::vector<std::string>& args) { return pulse_.pactl(args); }
    void play(const std::filesystem::path& wav, const std::string& sink) {
        ASSERT_TRUE(pulse_.play(wav, sink));
    }

    TempDir dir_;
    PrivatePulseAudio pulse_;
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
    EXPECT_NEAR(tone_frequency(pcm, 2, 0, start, length, 48000), 1000.0, 5.0)
        << "tone frequency";
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
