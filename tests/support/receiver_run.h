#pragma once

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "base/fs.h"
#include "base/process.h"
#include "tests/support/engine_process.h"

namespace zel {

inline std::filesystem::path receiver_binary() { return sibling_binary("zel-receiver"); }

// The raw value of a top-level key of a flat JSON object: a string without
// its quotes (no escapes expected), a number, true/false/null, or a nested
// object as text. Empty when the key is missing.
inline std::string json_field(const std::string& json, const std::string& key) {
    const std::string needle = "\"" + key + "\":";
    const size_t at = json.find(needle);
    if (at == std::string::npos) return "";
    size_t i = at + needle.size();
    if (i < json.size() && json[i] == '"') {
        const size_t end = json.find('"', i + 1);
        return end == std::string::npos ? "" : json.substr(i + 1, end - i - 1);
    }
    size_t end = i;
    int depth = 0;
    while (end < json.size() && (depth > 0 || (json[end] != ',' && json[end] != '}'))) {
        if (json[end] == '{') ++depth;
        if (json[end] == '}') --depth;
        ++end;
    }
    return json.substr(i, end - i);
}

inline double json_number(const std::string& json, const std::string& key) {
    const std::string v = json_field(json, key);
    try {
        return v.empty() ? -1 : std::stod(v);
    } catch (...) {
        return -1;
    }
}

struct RgbImage {
    uint32_t width = 0, height = 0;
    std::vector<uint8_t> rgb;  // tightly packed rows
    const uint8_t* at(uint32_t x, uint32_t y) const { return &rgb[(size_t(y) * width + x) * 3]; }
};

// Reads the PNG files the reference receiver writes: 8-bit RGB, filter 0,
// image data in deflate stored blocks. Nothing for any other PNG.
inline std::optional<RgbImage> read_receiver_png(const std::filesystem::path& file) {
    std::string bytes;
    if (!read_whole_file(file, bytes) || bytes.compare(0, 8, "\x89PNG\r\n\x1a\n") != 0) return {};
    auto u32 = [&](size_t at) {
        return uint32_t(uint8_t(bytes[at])) << 24 | uint32_t(uint8_t(bytes[at + 1])) << 16 |
               uint32_t(uint8_t(bytes[at + 2])) << 8 | uint32_t(uint8_t(bytes[at + 3]));
    };
    RgbImage image;
    std::string z;
    for (size_t at = 8; at + 12 <= bytes.size();) {
        const uint32_t length = u32(at);
        const std::string type = bytes.substr(at + 4, 4);
        if (at + 12 + length > bytes.size()) return {};
        if (type == "IHDR") {
            image.width = u32(at + 8);
            image.height = u32(at + 12);
            if (bytes[at + 16] != 8 || bytes[at + 17] != 2) return {};
        } else if (type == "IDAT") {
            z.append(bytes, at + 8, length);
        }
        at += 12 + length;
    }
    std::string raw;
    for (size_t at = 2; at < z.size();) {  // past the zlib header
        const uint8_t head = uint8_t(z[at]);
        if ((head & 6) != 0 || at + 5 > z.size()) return {};  // not a stored block
        const size_t length = uint8_t(z[at + 1]) | size_t(uint8_t(z[at + 2])) << 8;
        raw.append(z, at + 5, length);
        at += 5 + length;
        if (head & 1) break;
    }
    const size_t row = size_t(image.width) * 3 + 1;
    if (image.width == 0 || raw.size() < row * image.height) return {};
    for (uint32_t y = 0; y < image.height; ++y) {
        if (raw[y * row] != 0) return {};
        image.rgb.insert(image.rgb.end(), raw.begin() + std::ptrdiff_t(y * row + 1),
                         raw.begin() + std::ptrdiff_t((y + 1) * row));
    }
    return image;
}

struct WavAudio {
    uint32_t sampleRate = 0;
    uint16_t channels = 0;
    std::vector<float> samples;  // interleaved, -1..1
};

// Reads a 16-bit PCM WAV file.
inline std::optional<WavAudio> read_wav16(const std::filesystem::path& file) {
    std::string bytes;
    if (!read_whole_file(file, bytes) || bytes.size() < 12 || bytes.compare(0, 4, "RIFF") != 0 ||
        bytes.compare(8, 4, "WAVE") != 0) {
        return {};
    }
    auto u16 = [&](size_t at) { return uint16_t(uint8_t(bytes[at]) | uint8_t(bytes[at + 1]) << 8); };
    auto u32 = [&](size_t at) { return uint32_t(u16(at)) | uint32_t(u16(at + 2)) << 16; };
    WavAudio wav;
    for (size_t at = 12; at + 8 <= bytes.size();) {
        const std::string id = bytes.substr(at, 4);
        const uint32_t length = u32(at + 4);
        if (at + 8 + length > bytes.size()) return {};
        if (id == "fmt ") {
            if (u16(at + 8) != 1 || u16(at + 22) != 16) return {};
            wav.channels = u16(at + 10);
            wav.sampleRate = u32(at + 12);
        } else if (id == "data") {
            for (size_t i = 0; i + 1 < length; i += 2) {
                wav.samples.push_back(float(int16_t(u16(at + 8 + i))) / 32768.0f);
            }
        }
        at += 8 + length + (length & 1);
    }
    if (wav.channels == 0) return {};
    return wav;
}

}  // namespace zel
