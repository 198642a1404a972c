#include "engine/audio/loopback_pipeline.h"

#include <algorithm>
#include <cmath>

namespace zel {

namespace {
constexpr uint64_t kBlockNs = 10'000'000;
constexpr int kMaxBlocksPerPump = 4;
}  // namespace

LoopbackPipeline::LoopbackPipeline(const DeviceFormat& format, int outputChannels, uint64_t startNs)
    : channels_(outputChannels),
      converter_(format, outputChannels),
      encoder_(outputChannels),
      ratio_(static_cast<double>(format.sampleRate) / kAudioSampleRate),
      silence_(static_cast<size_t>(outputChannels) * kAudioBlockFrames, 0.0f),
      baseUs_(static_cast<int64_t>(startNs / 1000)),
      nextDeadlineNs_(startNs) {}

void LoopbackPipeline::addPacket(const uint8_t* data, uint32_t frames, bool silent, float gain) {
    if (silent || data == nullptr) {
        converter_.appendSilence(frames, deviceBuffer_);
    } else {
        converter_.append(data, frames, gain, deviceBuffer_);
    }
    resample();
}

void LoopbackPipeline::resample() {
    const size_t inFrames = deviceBuffer_.size() / channels_;
    const double queued = static_cast<double>(queuedFrames());
    const double drift =
        std::clamp((queued - kTargetQueueFrames) / kTargetQueueFrames * 0.0005, -0.002, 0.002);
    const double step = (1.0 + drift) * ratio_;

    const float* in = deviceBuffer_.data();
    while (position_ + 1.0 < static_cast<double>(inFrames)) {
        const size_t k = static_cast<size_t>(position_);
        const float f = static_cast<float>(position_ - static_cast<double>(k));
        const float* a = in + k * channels_;
        const float* b = a + channels_;
        for (int c = 0; c < channels_; ++c) queue_.push_back(a[c] + (b[c] - a[c]) * f);
        position_ += step;
    }
    if (inFrames > 0 && position_ > 0.0) {
        const size_t consumed = position_ < static_cast<double>(inFrames)
                                    ? static_cast<size_t>(std::floor(position_))
                                    : inFrames;
        deviceBuffer_.erase(deviceBuffer_.begin(),
                            deviceBuffer_.begin() + static_cast<ptrdiff_t>(consumed * channels_));
        position_ -= static_cast<double>(consumed);
    }
}

void LoopbackPipeline::pump(uint64_t nowNs, std::atomic<bool>& running,
                            const AudioFrameSink& sink) {
    for (int i = 0; i < kMaxBlocksPerPump && running.load() && nowNs >= nextDeadlineNs_; ++i) {
        encodeNext(running, sink);
    }
}

void LoopbackPipeline::encodeNext(std::atomic<bool>& running, const AudioFrameSink& sink) {
    EncodedAudioFrame frame;
    const size_t blockSamples = static_cast<size_t>(channels_) * kAudioBlockFrames;
    if (queue_.size() - queueHead_ < blockSamples) {
        frame.data = encoder_.encodeBlock(silence_.data());
    } else {
        frame.data = encoder_.encodeBlock(queue_.data() + queueHead_);
        queueHead_ += blockSamples;
        // Compact once the consumed part dominates, so the queue's storage
        // stays a few blocks long.
        if (queueHead_ >= queue_.size() - queueHead_) {
            queue_.erase(queue_.begin(), queue_.begin() + static_cast<ptrdiff_t>(queueHead_));
            queueHead_ = 0;
        }
    }
    frame.sequence = sequence_++;
    frame.timestampUs =
        baseUs_ + static_cast<int64_t>(encodedSamples_ * 1'000'000 / kAudioSampleRate);
    frame.samples = kAudioBlockFrames;
    encodedSamples_ += kAudioBlockFrames;
    nextDeadlineNs_ += kBlockNs;
    if (!sink(frame)) running.store(false);
}

}  // namespace zel
