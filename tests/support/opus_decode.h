#pragma once

#include <opus.h>
#include <opus_multistream.h>

#include <cmath>
#include <memory>
#include <stdexcept>
#include <vector>

#include "tests/support/audio_analysis.h"

namespace zel {

// Decodes packets of the stream with libopus's own decoders, as a receiver
// does. Surround streams need the encoder's streams, coupled streams and
// mapping (the stream metadata a receiver gets).
class OpusTestDecoder {
  public:
    explicit OpusTestDecoder(int channels, int streams = 1, int coupled = 1,
                             std::vector<unsigned char> mapping = {0, 1})
        : channels_(channels) {
        int error = 0;
        decoder_ = opus_multistream_decoder_create(48000, channels, streams, coupled,
                                                   mapping.data(), &error);
        if (decoder_ == nullptr || error != OPUS_OK) throw std::runtime_error("opus decoder");
    }
    ~OpusTestDecoder() { opus_multistream_decoder_destroy(decoder_); }
    OpusTestDecoder(const OpusTestDecoder&) = delete;
    OpusTestDecoder& operator=(const OpusTestDecoder&) = delete;

    // Appends the decoded frames (interleaved); the frame count or a negative error.
    int decode(const std::vector<uint8_t>& packet, std::vector<float>& out) {
        std::vector<float> pcm(static_cast<size_t>(5760) * channels_);
        const int n = opus_multistream_decode_float(
            decoder_, packet.data(), static_cast<opus_int32>(packet.size()), pcm.data(), 5760, 0);
        if (n > 0) out.insert(out.end(), pcm.begin(), pcm.begin() + n * channels_);
        return n;
    }

  private:
    int channels_;
    OpusMSDecoder* decoder_ = nullptr;
};

}  // namespace zel
