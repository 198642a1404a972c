// CPU cost of the loopback audio pipeline: device frames -> stream layout ->
// 48 kHz -> Opus, per second of audio, and of one Opus block on its own.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <numbers>
#include <vector>

#include "engine/audio/loopback_pipeline.h"
#include "engine/audio/opus_audio_encoder.h"

namespace zel {
namespace {

constexpr uint64_t kMs = 1'000'000;

// Ten 10 ms device packets of float music-like content (three tones per channel).
std::vector<uint8_t> device_second(uint32_t rate, int channels) {
    std::vector<uint8_t> bytes(static_cast<size_t>(rate) * channels * 4);
    for (uint32_t i = 0; i < rate; ++i) {
        for (int c = 0; c < channels; ++c) {
            const double t = double(i) / rate;
            const float v =
                static_cast<float>(0.2 * std::sin(2 * std::numbers::pi * (220 + 40 * c) * t) +
                                   0.1 * std::sin(2 * std::numbers::pi * 1870 * t) +
                                   0.05 * std::sin(2 * std::numbers::pi * 5300 * t));
            std::memcpy(&bytes[(static_cast<size_t>(i) * channels + c) * 4], &v, 4);
        }
    }
    return bytes;
}

// One iteration = one second of audio through conversion, resampling and
// encoding (100 packets), so the CPU time per iteration is the CPU cost of
// one second of audio.
void pipeline_second(benchmark::State& state, uint32_t rate, uint16_t deviceChannels, uint32_t mask,
                     int outputChannels) {
    const DeviceFormat format{rate, deviceChannels,
                              32,   static_cast<uint16_t>(deviceChannels * 4),
                              mask, SampleEncoding::Float};
    const auto second = device_second(rate, deviceChannels);
    const uint32_t packetFrames = rate / 100;
    LoopbackPipeline pipeline(format, outputChannels, 0);
    std::atomic<bool> running{true};
    size_t packets = 0;
    AudioFrameSink sink = [&](const EncodedAudioFrame& f) {
        packets += f.data.empty() ? 0 : 1;
        return true;
    };
    uint64_t now = 0;
    for (auto _ : state) {
        for (int p = 0; p < 100; ++p) {
            pipeline.addPacket(&second[static_cast<size_t>(p) * packetFrames * format.blockAlign],
                               packetFrames, false, 0.8f);
            pipeline.pump(now, running, sink);
            now += 10 * kMs;
        }
    }
    state.counters["packets/iter"] =
        benchmark::Counter(double(packets), benchmark::Counter::kAvgIterations);
    state.counters["queue frames"] = double(pipeline.queuedFrames());
}

void BM_Pipeline_44k1Stereo_To_Stereo(benchmark::State& state) {
    pipeline_second(state, 44100, 2, 0, 2);
}
void BM_Pipeline_48k7_1_To_7_1(benchmark::State& state) {
    pipeline_second(state, 48000, 8, 0x63F, 8);
}

void encode_block(benchmark::State& state, int channels) {
    OpusAudioEncoder encoder(channels);
    const auto second = device_second(48000, channels);
    std::vector<float> pcm(second.size() / 4);
    std::memcpy(pcm.data(), second.data(), second.size());
    size_t block = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(encoder.encodeBlock(&pcm[(block % 100) * 480 * channels]));
        ++block;
    }
}
void BM_OpusBlock_Stereo(benchmark::State& state) {
    encode_block(state, 2);
}
void BM_OpusBlock_7_1(benchmark::State& state) {
    encode_block(state, 8);
}

BENCHMARK(BM_Pipeline_44k1Stereo_To_Stereo)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Pipeline_48k7_1_To_7_1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpusBlock_Stereo)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_OpusBlock_7_1)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace zel

BENCHMARK_MAIN();
