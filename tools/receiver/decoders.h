#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace zel::receiver {

// Decodes Annex-B H.264 (codecId 2) or HEVC (codecId 3) access units.
class VideoDecoder {
  public:
    virtual ~VideoDecoder() = default;
    // Pictures that came out of this access unit; -1 when it failed to decode.
    virtual int decode(std::span<const uint8_t> accessUnit) = 0;
    // The newest decoded picture as packed RGB; false when there is none.
    virtual bool lastPicture(uint32_t& width, uint32_t& height, std::vector<uint8_t>& rgb) = 0;
};

// Nothing when this build has no video decoder or the codec is unknown.
std::unique_ptr<VideoDecoder> create_video_decoder(uint8_t codecId);
bool video_decoding_available();

// Decodes Opus packets of a stereo, 5.1 or 7.1 stream at 48 kHz.
class AudioDecoder {
  public:
    virtual ~AudioDecoder() = default;
    // Appends interleaved samples; samples per channel, or -1 on failure.
    virtual int decode(std::span<const uint8_t> packet, std::vector<int16_t>& pcm) = 0;
    virtual uint16_t channels() const = 0;
};

std::unique_ptr<AudioDecoder> create_audio_decoder(uint8_t channels);

}  // namespace zel::receiver
