#include "tools/receiver/media_files.h"

#include <array>

namespace zel::receiver {

namespace {

void put_be32(std::string& out, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(char(v >> shift));
}
void put_le16(std::string& out, uint16_t v) {
    out.push_back(char(v));
    out.push_back(char(v >> 8));
}
void put_le32(std::string& out, uint32_t v) {
    put_le16(out, uint16_t(v));
    put_le16(out, uint16_t(v >> 16));
}

void chunk(std::string& out, const char* type, const std::string& data) {
    put_be32(out, uint32_t(data.size()));
    std::string typed(type, 4);
    typed += data;
    out += typed;
    put_be32(out, crc32({reinterpret_cast<const uint8_t*>(typed.data()), typed.size()}));
}

}  // namespace

uint32_t crc32(std::span<const uint8_t> data, uint32_t crc) {
    static const auto table = [] {
        std::array<uint32_t, 256> t{};
        for (uint32_t n = 0; n < 256; ++n) {
            uint32_t c = n;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[n] = c;
        }
        return t;
    }();
    crc = ~crc;
    for (uint8_t b : data) crc = table[(crc ^ b) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

std::string encode_png_rgb(uint32_t width, uint32_t height, std::span<const uint8_t> rgb) {
    const size_t rowBytes = size_t(width) * 3;
    std::string raw;  // filter byte 0 in front of every row
    raw.reserve((rowBytes + 1) * height);
    for (uint32_t y = 0; y < height; ++y) {
        raw.push_back(0);
        raw.append(reinterpret_cast<const char*>(rgb.data()) + y * rowBytes, rowBytes);
    }
    std::string z = {char(0x78), char(0x01)};
    uint32_t a = 1, b = 0;
    for (unsigned char c : raw) {
        a = (a + c) % 65521;
        b = (b + a) % 65521;
    }
    size_t pos = 0;
    do {
        const size_t n = std::min<size_t>(65535, raw.size() - pos);
        const bool final = pos + n == raw.size();
        z.push_back(char(final ? 1 : 0));
        put_le16(z, uint16_t(n));
        put_le16(z, uint16_t(~n));
        z.append(raw, pos, n);
        pos += n;
    } while (pos < raw.size());
    put_be32(z, (b << 16) | a);

    std::string png = "\x89PNG\r\n\x1a\n";
    std::string header;
    put_be32(header, width);
    put_be32(header, height);
    header += std::string{8, 2, 0, 0, 0};  // 8 bits, RGB, deflate, no filter choice, no interlace
    chunk(png, "IHDR", header);
    chunk(png, "IDAT", z);
    chunk(png, "IEND", "");
    return png;
}

std::string encode_wav(uint32_t sampleRate, uint16_t channels, std::span<const int16_t> samples) {
    const uint32_t dataBytes = uint32_t(samples.size() * 2);
    std::string w = "RIFF";
    put_le32(w, 36 + dataBytes);
    w += "WAVEfmt ";
    put_le32(w, 16);
    put_le16(w, 1);
    put_le16(w, channels);
    put_le32(w, sampleRate);
    put_le32(w, sampleRate * channels * 2);
    put_le16(w, uint16_t(channels * 2));
    put_le16(w, 16);
    w += "data";
    put_le32(w, dataBytes);
    for (int16_t s : samples) put_le16(w, uint16_t(s));
    return w;
}

}  // namespace zel::receiver
