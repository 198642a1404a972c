#include "base/bytes.h"

#include <cstring>

namespace zel {

ByteWriter& ByteWriter::u16(uint16_t v) {
    uint8_t b[2];
    put_u16_be(b, v);
    return bytes(b, 2);
}

ByteWriter& ByteWriter::u32(uint32_t v) {
    uint8_t b[4];
    put_u32_be(b, v);
    return bytes(b, 4);
}

ByteWriter& ByteWriter::u64(uint64_t v) {
    uint8_t b[8];
    put_u64_be(b, v);
    return bytes(b, 8);
}

ByteWriter& ByteWriter::tag(std::string_view fourChars) {
    uint8_t b[4] = {' ', ' ', ' ', ' '};
    for (size_t i = 0; i < 4 && i < fourChars.size(); ++i) b[i] = uint8_t(fourChars[i]);
    return bytes(b, 4);
}

ByteWriter& ByteWriter::bytes(const void* data, size_t size) {
    if (size == 0) return *this;
    const auto* p = static_cast<const uint8_t*>(data);
    buffer_.insert(buffer_.end(), p, p + size);
    return *this;
}

bool ByteReader::take(size_t count, const uint8_t*& p) {
    if (!ok_ || count > size_ - pos_) {
        ok_ = false;
        return false;
    }
    p = data_ + pos_;
    pos_ += count;
    return true;
}

bool ByteReader::u8(uint8_t& v) {
    const uint8_t* p;
    if (!take(1, p)) return false;
    v = *p;
    return true;
}

bool ByteReader::u16(uint16_t& v) {
    const uint8_t* p;
    if (!take(2, p)) return false;
    v = get_u16_be(p);
    return true;
}

bool ByteReader::u32(uint32_t& v) {
    const uint8_t* p;
    if (!take(4, p)) return false;
    v = get_u32_be(p);
    return true;
}

bool ByteReader::u64(uint64_t& v) {
    const uint8_t* p;
    if (!take(8, p)) return false;
    v = get_u64_be(p);
    return true;
}

bool ByteReader::i16(int16_t& v) {
    uint16_t u;
    if (!u16(u)) return false;
    v = int16_t(u);
    return true;
}

bool ByteReader::i32(int32_t& v) {
    uint32_t u;
    if (!u32(u)) return false;
    v = int32_t(u);
    return true;
}

bool ByteReader::i64(int64_t& v) {
    uint64_t u;
    if (!u64(u)) return false;
    v = int64_t(u);
    return true;
}

bool ByteReader::bytes(void* out, size_t count) {
    const uint8_t* p;
    if (!take(count, p)) return false;
    if (count) std::memcpy(out, p, count);
    return true;
}

bool ByteReader::skip(size_t count) {
    const uint8_t* p;
    return take(count, p);
}

bool ByteReader::tag(std::string_view fourChars) {
    if (!ok_ || remaining() < 4 || fourChars.size() != 4) return false;
    if (std::memcmp(data_ + pos_, fourChars.data(), 4) != 0) return false;
    pos_ += 4;
    return true;
}

}  // namespace zel
