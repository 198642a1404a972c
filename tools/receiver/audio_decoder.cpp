#include <opus/opus.h>
#include <opus/opus_multistream.h>

#include "tools/receiver/decoders.h"

namespace zel::receiver {

namespace {

constexpr int kSampleRate = 48000;
constexpr int kMaxFrame = 5760;  // 120 ms at 48 kHz, the longest Opus frame

// Surround streams are decoded with the layouts the Opus surround encoder
// uses for mapping family 1 (Vorbis channel order).
class OpusAudioDecoder : public AudioDecoder {
  public:
    explicit OpusAudioDecoder(uint8_t channels) : channels_(channels) {
        int error = 0;
        if (channels == 6) {
            const unsigned char mapping[6] = {0, 4, 1, 2, 3, 5};
            decoder_ = opus_multistream_decoder_create(kSampleRate, 6, 4, 2, mapping, &error);
        } else if (channels == 8) {
            const unsigned char mapping[8] = {0, 6, 1, 2, 3, 4, 5, 7};
            decoder_ = opus_multistream_decoder_create(kSampleRate, 8, 5, 3, mapping, &error);
        } else {
            channels_ = 2;
            const unsigned char mapping[2] = {0, 1};
            decoder_ = opus_multistream_decoder_create(kSampleRate, 2, 1, 1, mapping, &error);
        }
        if (error != OPUS_OK) decoder_ = nullptr;
    }
    ~OpusAudioDecoder() override {
        if (decoder_) opus_multistream_decoder_destroy(decoder_);
    }
    int decode(std::span<const uint8_t> packet, std::vector<int16_t>& pcm) override {
        if (!decoder_ || packet.empty()) return -1;
        const size_t start = pcm.size();
        pcm.resize(start + size_t(kMaxFrame) * channels_);
        const int n = opus_multistream_decode(decoder_, packet.data(), opus_int32(packet.size()),
                                              pcm.data() + start, kMaxFrame, 0);
        pcm.resize(start + (n > 0 ? size_t(n) * channels_ : 0));
        return n < 0 ? -1 : n;
    }
    uint16_t channels() const override { return channels_; }
    bool ready() const { return decoder_ != nullptr; }

  private:
    uint16_t channels_;
    OpusMSDecoder* decoder_ = nullptr;
};

}  // namespace

std::unique_ptr<AudioDecoder> create_audio_decoder(uint8_t channels) {
    auto decoder = std::make_unique<OpusAudioDecoder>(channels);
    if (!decoder->ready()) return nullptr;
    return decoder;
}

}  // namespace zel::receiver
