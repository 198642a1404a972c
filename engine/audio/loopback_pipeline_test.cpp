#include "engine/audio/loopback_pipeline.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <numbers>

#include "tests/support/opus_decode.h"

namespace zel {
namespace {

constexpr uint64_t kMs = 1'000'000;
constexpr uint64_t kStart = 5'000 * kMs;

// Packets of a 44.1 kHz stereo float device with a 1 kHz tone.
class ToneDevice {
  public:
    explicit ToneDevice(uint32_t framesPerPacket) : frames_(framesPerPacket) {}
    const uint8_t* next() {
        bytes_.resize(frames_ * 8);
        for (uint32_t i = 0; i < frames_; ++i, ++frame_) {
            const float v =
                static_cast<float>(0.5 * std::sin(2 * std::numbers::pi * 1000 * frame_ / 44100.0));
            std::memcpy(&bytes_[i * 8], &v, 4);
            std::memcpy(&bytes_[i * 8 + 4], &v, 4);
        }
        return bytes_.data();
    }
    uint32_t frames() const { return frames_; }

  private:
    uint32_t frames_;
    uint64_t frame_ = 0;
    std::vector<uint8_t> bytes_;
};

const DeviceFormat kStereo44k{44100, 2, 32, 8, 0, SampleEncoding::Float};

struct Collected {
    std::vector<EncodedAudioFrame> frames;
    AudioFrameSink sink() {
        return [this](const EncodedAudioFrame& f) {
            frames.push_back(f);
            return true;
        };
    }
};

// A minute of a 44.1 kHz device delivering 441 frames every 10 ms, pumped
// every millisecond: 100 packets a second, evenly timestamped, and the queue
// settles near its 20 ms target.
TEST(LoopbackPipeline, SimulatedMinuteKeepsPaceAndQueue) {
    LoopbackPipeline pipeline(kStereo44k, 2, kStart);
    ToneDevice device(441);
    std::atomic<bool> running{true};
    Collected out;
    const uint64_t minute = 60'000 * kMs;
    for (uint64_t t = 0; t < minute; t += kMs) {
        if (t % (10 * kMs) == 3 * kMs)
            pipeline.addPacket(device.next(), device.frames(), false, 1.0f);
        pipeline.pump(kStart + t, running, out.sink());
    }
    ASSERT_EQ(out.frames.size(), 6000u);
    for (size_t i = 0; i < out.frames.size(); ++i) {
        ASSERT_EQ(out.frames[i].sequence, i);
        ASSERT_EQ(out.frames[i].timestampUs, static_cast<int64_t>(kStart / 1000 + i * 10'000));
        ASSERT_EQ(out.frames[i].samples, 480u);
    }
    EXPECT_NEAR(static_cast<double>(pipeline.queuedFrames()), 960.0, 3 * 480.0);
    EXPECT_LE(pipeline.deviceFramesBuffered(), 2u);

    // The tone comes through at its pitch: 1 kHz is 20 zero crossings per block.
    OpusTestDecoder decoder(2);
    std::vector<float> pcm;
    for (const auto& f : out.frames) decoder.decode(f.data, pcm);
    int crossings = 0;
    for (size_t i = pcm.size() - 2 * 48000; i < pcm.size(); i += 2)
        crossings += (pcm[i - 2] < 0) != (pcm[i] < 0);
    EXPECT_NEAR(crossings, 2000, 10);
}

TEST(LoopbackPipeline, SilenceFillsForAMissingDevice) {
    LoopbackPipeline pipeline(kStereo44k, 2, kStart);
    std::atomic<bool> running{true};
    Collected out;
    for (uint64_t t = 0; t <= 1000 * kMs; t += kMs) pipeline.pump(kStart + t, running, out.sink());
    ASSERT_EQ(out.frames.size(), 101u);
    OpusTestDecoder decoder(2);
    std::vector<float> pcm;
    for (const auto& f : out.frames) decoder.decode(f.data, pcm);
    for (float v : pcm) ASSERT_LT(std::fabs(v), 1e-6f);
}

// A late pump makes at most 4 blocks and the rest follow on the next passes,
// without skipping sequence numbers or timestamps.
TEST(LoopbackPipeline, LateWorkerCatchesUpWithoutSkipping) {
    LoopbackPipeline pipeline(kStereo44k, 2, kStart);
    std::atomic<bool> running{true};
    Collected out;
    const std::pair<uint64_t, size_t> passes[] = {
        {0, 1}, {65 * kMs, 5}, {65 * kMs, 7}, {66 * kMs, 7}, {70 * kMs, 8}};
    for (const auto& [t, total] : passes) {
        pipeline.pump(kStart + t, running, out.sink());
        EXPECT_EQ(out.frames.size(), total) << "at " << t / kMs << " ms";
    }
    for (size_t i = 1; i < out.frames.size(); ++i) {
        EXPECT_EQ(out.frames[i].sequence, out.frames[i - 1].sequence + 1);
        EXPECT_EQ(out.frames[i].timestampUs - out.frames[i - 1].timestampUs, 10'000);
    }
}

TEST(LoopbackPipeline, SinkRefusalStopsThePump) {
    LoopbackPipeline pipeline(kStereo44k, 2, kStart);
    std::atomic<bool> running{true};
    int calls = 0;
    pipeline.pump(kStart + 100 * kMs, running,
                  [&](const EncodedAudioFrame&) { return ++calls < 2; });
    EXPECT_EQ(calls, 2);
    EXPECT_FALSE(running.load());
}

}  // namespace
}  // namespace zel
