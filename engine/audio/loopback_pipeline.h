#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <vector>

#include "engine/audio/device_format.h"
#include "engine/audio/encoded_audio_frame.h"
#include "engine/audio/frame_converter.h"
#include "engine/audio/opus_audio_encoder.h"

namespace zel {

// Receives every encoded packet on the capture worker's thread; false means:
// stop capturing.
using AudioFrameSink = std::function<bool(const EncodedAudioFrame&)>;

// The OS-independent part of one capture run: device frames in, paced Opus
// packets out. Device packets are converted to the stream layout and
// resampled to 48 kHz into an output queue held near 960 frames (20 ms) by a
// drift correction of at most 0.2 %; the pump encodes one 10 ms block per
// 10 ms of steady-clock time, sending silence when the queue is short.
// Owned and used by one thread.
class LoopbackPipeline {
  public:
    static constexpr size_t kTargetQueueFrames = 960;

    // startNs: the steady-clock time of the run's start, which is both the
    // first pacing deadline and the time base of the timestamps.
    LoopbackPipeline(const DeviceFormat& format, int outputChannels, uint64_t startNs);

    // One device packet: converted with `gain` (silent packets and packets
    // without data add zeros), then resampled.
    void addPacket(const uint8_t* data, uint32_t frames, bool silent, float gain);

    // Encodes the blocks that are due at nowNs, at most 4 per call, while
    // `running` holds; the sink returning false clears `running`.
    void pump(uint64_t nowNs, std::atomic<bool>& running, const AudioFrameSink& sink);

    size_t queuedFrames() const { return (queue_.size() - queueHead_) / channels_; }
    size_t deviceFramesBuffered() const { return deviceBuffer_.size() / channels_; }
    uint64_t nextDeadlineNs() const { return nextDeadlineNs_; }

  private:
    void resample();
    void encodeNext(std::atomic<bool>& running, const AudioFrameSink& sink);

    int channels_;
    FrameConverter converter_;
    OpusAudioEncoder encoder_;
    double ratio_;
    double position_ = 0.0;
    std::vector<float> deviceBuffer_;  // device rate, stream layout
    std::vector<float> queue_;         // 48 kHz, from queueHead_ on
    size_t queueHead_ = 0;
    std::vector<float> silence_;
    uint32_t sequence_ = 0;
    uint64_t encodedSamples_ = 0;
    int64_t baseUs_;
    uint64_t nextDeadlineNs_;
};

}  // namespace zel
