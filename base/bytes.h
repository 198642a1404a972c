#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace zel {

inline void put_u16_be(uint8_t* p, uint16_t v) {
    p[0] = uint8_t(v >> 8);
    p[1] = uint8_t(v);
}
inline void put_u32_be(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v >> 24);
    p[1] = uint8_t(v >> 16);
    p[2] = uint8_t(v >> 8);
    p[3] = uint8_t(v);
}
inline void put_u64_be(uint8_t* p, uint64_t v) {
    put_u32_be(p, uint32_t(v >> 32));
    put_u32_be(p + 4, uint32_t(v));
}
inline uint16_t get_u16_be(const uint8_t* p) { return uint16_t((p[0] << 8) | p[1]); }
inline uint32_t get_u32_be(const uint8_t* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}
inline uint64_t get_u64_be(const uint8_t* p) {
    return (uint64_t(get_u32_be(p)) << 32) | get_u32_be(p + 4);
}

// Appends big-endian fields to a growing buffer.
class ByteWriter {
public:
    ByteWriter() = default;
    explicit ByteWriter(size_t reserve) { buffer_.reserve(reserve); }

    ByteWriter& u8(uint8_t v) {
        buffer_.push_back(v);
        return *this;
    }
    ByteWriter& u16(uint16_t v);
    ByteWriter& u32(uint32_t v);
    ByteWriter& u64(uint64_t v);
    ByteWriter& i16(int16_t v) { return u16(uint16_t(v)); }
    ByteWriter& i32(int32_t v) { return u32(uint32_t(v)); }
    ByteWriter& i64(int64_t v) { return u64(uint64_t(v)); }
    // Writes the four ASCII characters of a packet tag.
    ByteWriter& tag(std::string_view fourChars);
    ByteWriter& bytes(const void* data, size_t size);
    ByteWriter& bytes(std::span<const uint8_t> data) { return bytes(data.data(), data.size()); }

    size_t size() const { return buffer_.size(); }
    const std::vector<uint8_t>& data() const { return buffer_; }
    std::vector<uint8_t> take() { return std::move(buffer_); }

private:
    std::vector<uint8_t> buffer_;
};

// Reads big-endian fields with bounds checks. A read past the end returns false,
// leaves the output untouched and makes ok() false for good, so a parser can
// read a whole record and check once at the end.
class ByteReader {
public:
    ByteReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    explicit ByteReader(std::span<const uint8_t> data) : ByteReader(data.data(), data.size()) {}

    bool u8(uint8_t& v);
    bool u16(uint16_t& v);
    bool u32(uint32_t& v);
    bool u64(uint64_t& v);
    bool i16(int16_t& v);
    bool i32(int32_t& v);
    bool i64(int64_t& v);
    bool bytes(void* out, size_t count);
    bool skip(size_t count);
    // True when the next four bytes equal the tag; consumes them only then.
    bool tag(std::string_view fourChars);

    bool ok() const { return ok_; }
    size_t position() const { return pos_; }
    size_t remaining() const { return size_ - pos_; }
    const uint8_t* current() const { return data_ + pos_; }

private:
    bool take(size_t count, const uint8_t*& p);

    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
    bool ok_ = true;
};

}  // namespace zel
