#include <gtest/gtest.h>

#include <vector>

#include "base/bytes.h"

namespace zel {
namespace {

TEST(Bytes, WriterProducesBigEndianFields) {
    ByteWriter w;
    w.tag("SCAP").u8(0x01).u16(0x0203).u32(0x04050607).u64(0x08090A0B0C0D0E0FULL).i16(-2).i32(-1);
    const std::vector<uint8_t> expected = {'S', 'C', 'A', 'P', 0x01, 0x02, 0x03, 0x04, 0x05, 0x06,
                                           0x07, 0x08, 0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F,
                                           0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF};
    EXPECT_EQ(w.data(), expected);
}

TEST(Bytes, ReaderRoundTripsWriter) {
    ByteWriter w;
    w.tag("SMD2").u8(200).u16(65535).u32(0xDEADBEEF).i64(-1234567890123LL);
    const auto data = w.take();
    ByteReader r(data);
    uint8_t a;
    uint16_t b;
    uint32_t c;
    int64_t d;
    ASSERT_TRUE(r.tag("SMD2"));
    ASSERT_TRUE(r.u8(a) && r.u16(b) && r.u32(c) && r.i64(d));
    EXPECT_EQ(a, 200);
    EXPECT_EQ(b, 65535);
    EXPECT_EQ(c, 0xDEADBEEFu);
    EXPECT_EQ(d, -1234567890123LL);
    EXPECT_EQ(r.remaining(), 0u);
    EXPECT_TRUE(r.ok());
}

TEST(Bytes, EveryTruncationFailsWithoutReadingPastTheEnd) {
    ByteWriter w;
    w.u32(1).u16(2).u64(3).u8(4);
    const auto full = w.take();
    for (size_t length = 0; length < full.size(); ++length) {
        // A copy of exactly `length` bytes, so ASan sees any read past it.
        std::vector<uint8_t> cut(full.begin(), full.begin() + long(length));
        ByteReader r(cut.data(), cut.size());
        uint32_t a = 0;
        uint16_t b = 0;
        uint64_t c = 0;
        uint8_t d = 0;
        const bool all = r.u32(a) && r.u16(b) && r.u64(c) && r.u8(d);
        EXPECT_FALSE(all) << "length " << length;
        EXPECT_FALSE(r.ok());
        uint8_t after = 0;
        EXPECT_FALSE(r.u8(after)) << "failure must stick";
    }
}

TEST(Bytes, TagMismatchConsumesNothing) {
    const uint8_t data[] = {'S', 'E', 'R', 'R'};
    ByteReader r(data, sizeof data);
    EXPECT_FALSE(r.tag("SCAP"));
    EXPECT_EQ(r.position(), 0u);
    EXPECT_TRUE(r.tag("SERR"));
    EXPECT_FALSE(ByteReader(data, 3).tag("SER"));
}

}  // namespace
}  // namespace zel
