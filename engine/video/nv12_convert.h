#pragma once

#include <cstddef>
#include <cstdint>

namespace zel {

// BGRA to NV12 with integer BT.709 studio-range arithmetic, bit-exact with the
// compatibility converter's formulas:
//   Y = ((16 B + 157 G + 47 R + 128) >> 8) + 16 per pixel;
//   U, V from the rounded means of each 2 x 2 block.
// width and height are even. The whole buffer (alignedWidth x alignedHeight Y
// bytes, then alignedWidth x alignedHeight / 2 UV bytes) is written: padding
// becomes black (Y 16, UV 128). src rows are srcStride bytes apart.
struct Nv12Target {
    uint8_t* y;       // alignedWidth x alignedHeight
    uint8_t* uv;      // alignedWidth x alignedHeight / 2
    uint32_t pitch;   // bytes per row of both planes (alignedWidth)
    uint32_t alignedHeight;
};

// Straightforward per-pixel version; the reference the fast path is checked against.
void bgra_to_nv12_reference(const uint8_t* src, size_t srcStride, uint32_t width, uint32_t height,
                            const Nv12Target& dst);

// The same result, vectorised: the fastest path this processor runs.
void bgra_to_nv12(const uint8_t* src, size_t srcStride, uint32_t width, uint32_t height,
                  const Nv12Target& dst);

// The vectorised paths one by one (for tests and benchmarks); false, with
// nothing written, when this build or processor lacks the path.
bool bgra_to_nv12_sse2(const uint8_t* src, size_t srcStride, uint32_t width, uint32_t height,
                       const Nv12Target& dst);
bool bgra_to_nv12_avx2(const uint8_t* src, size_t srcStride, uint32_t width, uint32_t height,
                       const Nv12Target& dst);

}  // namespace zel
