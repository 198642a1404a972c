#include "engine/video/nv12_convert.h"

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define ZEL_HAVE_AVX2_PATH 1
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

bool bgra_to_nv12_sse2(const uint8_t* src, size_t srcStride, uint32_t width, uint32_t height,
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
    return true;
}

#else

bool bgra_to_nv12_sse2(const uint8_t*, size_t, uint32_t, uint32_t, const Nv12Target&) {
    return false;
}

#endif

#if defined(ZEL_HAVE_AVX2_PATH)

// The SSE2 arithmetic on 16 pixels at a time. AVX2 packs work inside each
// 128-bit half, so the pixel order is put back with a 64-bit permute after
// packing.
#define ZEL_AVX2 __attribute__((target("avx2")))

namespace {

struct Row16 {
    __m256i b, g, r;  // 16-bit lanes, pixels in order
};

// One channel of 16 pixels (two registers of 8) as 16-bit lanes in order.
ZEL_AVX2 inline __m256i channel16(__m256i lo, __m256i hi, int shift) {
    const __m256i mask = _mm256_set1_epi32(0xFF);
    const __m256i a = _mm256_and_si256(_mm256_srli_epi32(lo, shift), mask);
    const __m256i b = _mm256_and_si256(_mm256_srli_epi32(hi, shift), mask);
    return _mm256_permute4x64_epi64(_mm256_packs_epi32(a, b), 0xD8);
}

ZEL_AVX2 inline Row16 load16(const uint8_t* p) {
    const __m256i lo = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
    const __m256i hi = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32));
    return {channel16(lo, hi, 0), channel16(lo, hi, 8), channel16(lo, hi, 16)};
}

ZEL_AVX2 inline __m256i luma16(const Row16& p) {
    const __m256i sum = _mm256_add_epi16(
        _mm256_add_epi16(_mm256_mullo_epi16(p.b, _mm256_set1_epi16(16)),
                         _mm256_mullo_epi16(p.g, _mm256_set1_epi16(157))),
        _mm256_add_epi16(_mm256_mullo_epi16(p.r, _mm256_set1_epi16(47)), _mm256_set1_epi16(128)));
    return _mm256_add_epi16(_mm256_srli_epi16(sum, 8), _mm256_set1_epi16(16));
}

// 16 16-bit values to 16 bytes in order, saturated.
ZEL_AVX2 inline void store16(uint8_t* out, __m256i v) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out),
                     _mm_packus_epi16(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1)));
}

ZEL_AVX2 inline __m256i mean2x2_avx2(__m256i row0, __m256i row1) {
    const __m256i pairs = _mm256_madd_epi16(_mm256_add_epi16(row0, row1), _mm256_set1_epi16(1));
    return _mm256_srai_epi32(_mm256_add_epi32(pairs, _mm256_set1_epi32(2)), 2);
}

ZEL_AVX2 inline __m256i mul32_avx2(__m256i v, int k) {
    return _mm256_madd_epi16(v, _mm256_set1_epi32(k & 0xFFFF));
}

// ((a k1 - b k2 - c k3 + 128) >> 8) + 128 in 32-bit lanes.
ZEL_AVX2 inline __m256i chroma(__m256i a, int k1, __m256i b, int k2, __m256i c, int k3) {
    const __m256i bias = _mm256_set1_epi32(128);
    const __m256i sum = _mm256_sub_epi32(_mm256_sub_epi32(mul32_avx2(a, k1), mul32_avx2(b, k2)),
                                         mul32_avx2(c, k3));
    return _mm256_add_epi32(_mm256_srai_epi32(_mm256_add_epi32(sum, bias), 8), bias);
}

}  // namespace

ZEL_AVX2 static void convert_avx2(const uint8_t* src, size_t srcStride, uint32_t width,
                                  uint32_t height, const Nv12Target& dst) {
    if (dst.pitch != width || dst.alignedHeight != height) fill_black(dst);
    const uint32_t vecWidth = width & ~15u;
    for (uint32_t r = 0; r < height; r += 2) {
        const uint8_t* row0 = src + r * srcStride;
        const uint8_t* row1 = row0 + srcStride;
        uint8_t* y0 = dst.y + size_t(r) * dst.pitch;
        uint8_t* y1 = y0 + dst.pitch;
        uint8_t* uv = dst.uv + size_t(r / 2) * dst.pitch;
        for (uint32_t c = 0; c < vecWidth; c += 16) {
            const Row16 a = load16(row0 + c * 4);
            const Row16 b = load16(row1 + c * 4);
            store16(y0 + c, luma16(a));
            store16(y1 + c, luma16(b));
            const __m256i bm = mean2x2_avx2(a.b, b.b);
            const __m256i gm = mean2x2_avx2(a.g, b.g);
            const __m256i rm = mean2x2_avx2(a.r, b.r);
            const __m256i u = chroma(bm, 112, gm, 87, rm, 26);
            const __m256i v = chroma(rm, 112, gm, 102, bm, 10);
            // Per half: u0 v0 u1 v1 u2 v2 u3 v3, then the same for 4..7.
            store16(uv + c, _mm256_packs_epi32(_mm256_unpacklo_epi32(u, v),
                                               _mm256_unpackhi_epi32(u, v)));
        }
        convert_pair_scalar(row0, row1, vecWidth, width, y0, y1, uv);
    }
}

bool bgra_to_nv12_avx2(const uint8_t* src, size_t srcStride, uint32_t width, uint32_t height,
                       const Nv12Target& dst) {
    static const bool available = __builtin_cpu_supports("avx2");
    if (!available) return false;
    convert_avx2(src, srcStride, width, height, dst);
    return true;
}

#else

bool bgra_to_nv12_avx2(const uint8_t*, size_t, uint32_t, uint32_t, const Nv12Target&) {
    return false;
}

#endif

void bgra_to_nv12(const uint8_t* src, size_t srcStride, uint32_t width, uint32_t height,
                  const Nv12Target& dst) {
    if (bgra_to_nv12_avx2(src, srcStride, width, height, dst)) return;
    if (bgra_to_nv12_sse2(src, srcStride, width, height, dst)) return;
    bgra_to_nv12_reference(src, srcStride, width, height, dst);
}

}  // namespace zel
