#include <gtest/gtest.h>

#include <random>
#include <utility>
#include <vector>

#include "engine/video/nv12_convert.h"

namespace zel {
namespace {

struct Nv12Buffer {
    Nv12Buffer(uint32_t pitch, uint32_t alignedHeight)
        : data(size_t(pitch) * alignedHeight * 3 / 2, 0xAA),
          target{data.data(), data.data() + size_t(pitch) * alignedHeight, pitch, alignedHeight} {}
    std::vector<uint8_t> data;
    Nv12Target target;
};

std::vector<uint8_t> solid(uint32_t w, uint32_t h, uint8_t b, uint8_t g, uint8_t r) {
    std::vector<uint8_t> px(size_t(w) * h * 4);
    for (size_t i = 0; i < px.size(); i += 4) {
        px[i] = b;
        px[i + 1] = g;
        px[i + 2] = r;
        px[i + 3] = 255;
    }
    return px;
}

TEST(Nv12Convert, WhiteBlackAndPadding) {
    struct Case {
        uint8_t value;
        uint8_t y, u, v;
    } cases[] = {{255, 235, 127, 128}, {0, 16, 128, 128}};
    for (const auto& c : cases) {
        for (auto convert : {bgra_to_nv12_reference, bgra_to_nv12}) {  // fastest path
            const uint32_t w = 20, h = 6, pitch = 32, alignedHeight = 10;
            const auto src = solid(w, h, c.value, c.value, c.value);
            Nv12Buffer out(pitch, alignedHeight);
            convert(src.data(), w * 4, w, h, out.target);
            for (uint32_t row = 0; row < alignedHeight; ++row) {
                for (uint32_t col = 0; col < pitch; ++col) {
                    const bool picture = row < h && col < w;
                    ASSERT_EQ(out.target.y[row * pitch + col], picture ? c.y : 16)
                        << row << "," << col;
                }
            }
            for (uint32_t row = 0; row < alignedHeight / 2; ++row) {
                for (uint32_t col = 0; col < pitch; col += 2) {
                    const bool picture = row < h / 2 && col < w;
                    ASSERT_EQ(out.target.uv[row * pitch + col], picture ? c.u : 128);
                    ASSERT_EQ(out.target.uv[row * pitch + col + 1], picture ? c.v : 128);
                }
            }
        }
    }
}

TEST(Nv12Convert, FastPathEqualsReferenceOnRandomImages) {
    std::mt19937 random(1234);
    struct Size {
        uint32_t w, h, strideExtra, pitchExtra, heightExtra;
    } sizes[] = {{2, 2, 0, 0, 0},    {8, 2, 4, 0, 0},     {14, 4, 12, 2, 2},  {64, 64, 0, 0, 0},
                 {66, 10, 36, 6, 4}, {130, 18, 4, 14, 6}, {1366, 8, 8, 10, 0}, {30, 6, 8, 2, 0}};
    using Path = bool (*)(const uint8_t*, size_t, uint32_t, uint32_t, const Nv12Target&);
    const std::pair<const char*, Path> paths[] = {{"sse2", bgra_to_nv12_sse2},
                                                  {"avx2", bgra_to_nv12_avx2}};
    for (const auto& s : sizes) {
        const size_t stride = size_t(s.w) * 4 + s.strideExtra;
        // The source ends exactly where its last row ends, so a read past the
        // picture shows up under ASan.
        std::vector<uint8_t> src(stride * (s.h - 1) + size_t(s.w) * 4);
        for (auto& b : src) b = uint8_t(random());
        Nv12Buffer ref(s.w + s.pitchExtra, s.h + s.heightExtra);
        bgra_to_nv12_reference(src.data(), stride, s.w, s.h, ref.target);
        for (const auto& [name, path] : paths) {
            Nv12Buffer fast(s.w + s.pitchExtra, s.h + s.heightExtra);
            if (!path(src.data(), stride, s.w, s.h, fast.target)) continue;  // not on this CPU
            EXPECT_EQ(ref.data, fast.data) << name << " " << s.w << "x" << s.h;
        }
    }
}

}  // namespace
}  // namespace zel
