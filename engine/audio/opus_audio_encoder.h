#pragma once

#include <cstdint>
#include <vector>

struct OpusEncoder;
struct OpusMSEncoder;

namespace zel {

// Encodes 10 ms blocks of 48 kHz interleaved float audio into Opus packets.
// Stereo uses the plain encoder; any other count (6 for 5.1, 8 for 7.1) the
// surround multistream encoder with mapping family 1, so the channel order
// is FL FC FR [SL SR] RL RR LFE. Lives on one thread (the capture worker's).
class OpusAudioEncoder {
  public:
    // Throws EngineError category 2 when libopus refuses to create or
    // configure the encoder.
    explicit OpusAudioEncoder(int channels);
    ~OpusAudioEncoder();
    OpusAudioEncoder(const OpusAudioEncoder&) = delete;
    OpusAudioEncoder& operator=(const OpusAudioEncoder&) = delete;

    // Exactly 480 frames of interleaved samples; the packet bytes. Throws
    // EngineError category 2 when libopus reports an error.
    std::vector<uint8_t> encodeBlock(const float* interleaved);

    int channels() const { return channels_; }
    // Surround layout chosen by libopus; 0 / 0 / empty for stereo.
    int streams() const { return streams_; }
    int coupledStreams() const { return coupledStreams_; }
    const std::vector<uint8_t>& mapping() const { return mapping_; }

  private:
    int channels_;
    int streams_ = 0;
    int coupledStreams_ = 0;
    std::vector<uint8_t> mapping_;
    OpusEncoder* stereoEncoder_ = nullptr;
    OpusMSEncoder* surroundEncoder_ = nullptr;
};

}  // namespace zel
