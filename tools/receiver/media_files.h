#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace zel::receiver {

// A PNG file image (8-bit RGB, no interlace) of width x height pixels given
// as tightly packed RGB rows. The image data is stored uncompressed in
// deflate "stored" blocks, which every PNG reader accepts.
std::string encode_png_rgb(uint32_t width, uint32_t height, std::span<const uint8_t> rgb);

// A RIFF WAVE file image of 16-bit little-endian PCM.
std::string encode_wav(uint32_t sampleRate, uint16_t channels, std::span<const int16_t> samples);

uint32_t crc32(std::span<const uint8_t> data, uint32_t crc = 0);

}  // namespace zel::receiver
