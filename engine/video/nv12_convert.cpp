#include "engine/video/nv12_convert.h"

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace zel {

namespace {

inline uint8_t luma(int b, int g, int r) {
    const int y = ((16 * b + 157 * g + 47 * r + 128) >> 8) + 16;
    return uint8_t(y > 255 ? 255 : y);
}

inline uint8_t clamp_byte(int v) { return uint8_t(v < 0 ? 0 : (v > 255 ? 255 : v)); }

void fill_black(const Nv12Target& dst) {
    std::memset(dst.y, 16, size_t(dst.pitch) * dst.alignedHeight);
    std::memset(dst.uv, 128, size_t(dst.pitch) * (dst.alignedHeight / 2));
}

// Converts columns [c0, width) of the row pair starting at row r.
void convert_pair_scalar(const uint8_t* row0, const uint8_t* row1, uint32_t c0, uint32_t width,
                         uint8_t* y0, uint8_t* y1, uint8_t* uv) {
    for (uint32_t c = c0; c < width; c += 2) {
        const uint8_t* p00 = row0 + c * 4;
        const uint8_t* p01 = p00 + 4;
        const uint8_t* p10 = row1 + c * 4;
        const uint8_t* p11 = p10 + 4;
        y0[c] = luma(p00[0], p00[1], p00[2]);
        y0[c + 1] = luma(p01[0], p01[1], p01[2]);
        y1[c] = luma(p10[0], p10[1], p10[2]);
        y1[c + 1] = luma(p11[0], p11[1], p11[2]);
        const int bm = (p00[0] + p01[0] + p10[0] + p11[0] + 2) >> 2;
        const int gm = (p00[1] + p01[1] + p10[1] + p11[1] + 2) >> 2;
        const int rm = (p00[2] + p01[2] + p10[2] + p11[2] + 2) >> 2;
        uv[c] = clamp_byte(((112 * bm - 87 * gm - 26 * rm + 128) >> 8) + 128);
        uv[c + 1] = clamp_byte(((112 * rm - 102 * gm - 10 * bm + 128) >> 8) + 128);
    }
}

}  // namespace

void bgra_to_nv12_reference(const uint8_t* src, size_t srcStride, uint32_t width, uint32_t height,
                            const Nv12Target& dst) {
    fill_black(dst);
    for (uint32_t r = 0; r < height; r += 2) {
        convert_pair_scalar(src + r * srcStride, src + (r + 1) * srcStride, 0, width,
                            dst.y + size_t(r) * dst.pitch, dst.y + size_t(r + 1) * dst.pitch,
                            dst.uv + size_t(r / 2) * dst.pitch);
    }
}

#if defined(__SSE2__)

namespace {

// Splits 4 BGRA pixels (one register) into 32-bit lanes of B, G and R.
struct Channels {
    __m128i b, g, r;
};

inline Channels split(__m128i px) {
    const __m128i mask = _mm_set1_epi32(0xFF);
    return {_mm_and_si128(px, mask), _mm_and_si128(_mm_srli_epi32(px, 8), mask),
            _mm_and_si128(_mm_srli_epi32(px, 16), mask)};
}

// 8 pixels of one row as 16-bit B, G, R vectors.
struct Row8 {
    __m128i b, g, r;
};

inline Row8 load8(const uint8_t* p) {
    const Channels lo = split(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
    const Channels hi = split(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16)));
    return {_mm_packs_epi32(lo.b, hi.b), _mm_packs_epi32(lo.g, hi.g),
            _mm_packs_epi32(lo.r, hi.r)};
}

// The largest weighted sum (16 + 157 + 47) x 255 + 128 fits an unsigned
// 16-bit lane, and its Y never exceeds 235, so no clamp is needed.
inline __m128i luma8(const Row8& p) {
    const __m128i sum = _mm_add_epi16(
        _mm_add_epi16(_mm_mullo_epi16(p.b, _mm_set1_epi16(16)),
                      _mm_mullo_epi16(p.g, _mm_set1_epi16(157))),
        _mm_add_epi16(_mm_mullo_epi16(p.r, _mm_set1_epi16(47)), _mm_set1_epi16(128)));
    return _mm_add_epi16(_mm_srli_epi16(sum, 8), _mm_set1_epi16(16));
}

// Rounded 2 x 2 means of one channel: 4 values in 32-bit lanes.
inline __m128i mean2x2(__m128i row0, __m128i row1) {
    const __m128i pairs = _mm_madd_epi16(_mm_add_epi16(row0, row1), _mm_set1_epi16(1));
    return _mm_srai_epi32(_mm_add_epi32(pairs, _mm_set1_epi32(2)), 2);
}

inline __m128i mul32(__m128i v, int k) {
    // Values are small and non-negative: a 16-bit multiply with 32-bit result
    // through madd of (v, 0) pairs with (k, 0).
    return _mm_madd_epi16(v, _mm_set1_epi32(k & 0xFFFF));
}

}  // namespace

void bgra_to_nv12(const uint8_t* src, size_t srcStride, uint32_t width, uint32_t height,
                  const Nv12Target& dst) {
    // Only the padding needs the black fill; the picture area is overwritten.
    if (dst.pitch != width || dst.alignedHeight != height) fill_black(dst);
    const uint32_t vecWidth = width & ~7u;
    for (uint32_t r = 0; r < height; r += 2) {
        const uint8_t* row0 = src + r * srcStride;
        const uint8_t* row1 = row0 + srcStride;
        uint8_t* y0 = dst.y + size_t(r) * dst.pitch;
        uint8_t* y1 = y0 + dst.pitch;
        uint8_t* uv = dst.uv + size_t(r / 2) * dst.pitch;
        for (uint32_t c = 0; c < vecWidth; c += 8) {
            const Row8 a = load8(row0 + c * 4);
            const Row8 b = load8(row1 + c * 4);
            const __m128i ya = luma8(a), yb = luma8(b);
            _mm_storel_epi64(reinterpret_cast<__m128i*>(y0 + c), _mm_packus_epi16(ya, ya));
            _mm_storel_epi64(reinterpret_cast<__m128i*>(y1 + c), _mm_packus_epi16(yb, yb));
            const __m128i bm = mean2x2(a.b, b.b);
            const __m128i gm = mean2x2(a.g, b.g);
            const __m128i rm = mean2x2(a.r, b.r);
            const __m128i bias = _mm_set1_epi32(128);
            // U and V can be negative before the shift; arithmetic shift floors.
            const __m128i u = _mm_add_epi32(
                _mm_srai_epi32(_mm_add_epi32(_mm_sub_epi32(_mm_sub_epi32(mul32(bm, 112), mul32(gm, 87)),
                                                           mul32(rm, 26)),
                                             bias),
                               8),
                bias);
            const __m128i v = _mm_add_epi32(
                _mm_srai_epi32(_mm_add_epi32(_mm_sub_epi32(_mm_sub_epi32(mul32(rm, 112), mul32(gm, 102)),
                                                           mul32(bm, 10)),
                                             bias),
                               8),
                bias);
            const __m128i uv16 =
                _mm_packs_epi32(_mm_unpacklo_epi32(u, v), _mm_unpackhi_epi32(u, v));
            _mm_storel_epi64(reinterpret_cast<__m128i*>(uv + c), _mm_packus_epi16(uv16, uv16));
        }
        convert_pair_scalar(row0, row1, vecWidth, width, y0, y1, uv);
    }
}

#else

void bgra_to_nv12(const uint8_t* src, size_t srcStride, uint32_t width, uint32_t height,
                  const Nv12Target& dst) {
    bgra_to_nv12_reference(src, srcStride, width, height, dst);
}

#endif

}  // namespace zel
