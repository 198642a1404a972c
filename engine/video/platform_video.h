#pragma once

// The device and picture types that pass between capture sources, converters
// and encoders. On Windows they are Direct3D 11 objects; on Linux the whole
// chain runs on the CPU with plain images.

#include <cstdint>
#include <vector>

#ifdef _WIN32
struct ID3D11Device;
struct ID3D11Texture2D;
namespace zel {
using VideoDevice = ID3D11Device;
using VideoTexture = ID3D11Texture2D;
}  // namespace zel
#else
namespace zel {

enum class PixelFormat : uint8_t { Bgra, Nv12 };

// A picture in memory. BGRA: stride bytes per row, height rows. NV12: the Y
// plane (stride bytes per row, planeHeight rows) followed by the interleaved
// UV plane (stride bytes per row, planeHeight / 2 rows); width x height is the
// visible part in the top-left corner.
struct CpuImage {
    PixelFormat format = PixelFormat::Bgra;
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t stride = 0;
    uint32_t planeHeight = 0;
    std::vector<uint8_t> pixels;
    // When set, the picture lives in memory its producer owns (a capture
    // source's shared-memory segment, read without a copy) and pixels is
    // unused.
    uint8_t* external = nullptr;

    uint8_t* data() { return external ? external : pixels.data(); }
    const uint8_t* data() const { return external ? external : pixels.data(); }
    // Bytes of the whole picture: BGRA rows, or both NV12 planes.
    size_t byteSize() const {
        const size_t plane = size_t(stride) * planeHeight;
        return format == PixelFormat::Nv12 ? plane + plane / 2 : plane;
    }
    uint8_t* row(uint32_t y) { return data() + size_t(y) * stride; }
    const uint8_t* row(uint32_t y) const { return data() + size_t(y) * stride; }
};

// Stands for the GPU device of the Windows build: the adapter's identity.
struct CpuDevice {
    uint32_t vendorId = 0;
    uint32_t deviceId = 0;
};

using VideoDevice = CpuDevice;
using VideoTexture = CpuImage;

}  // namespace zel
#endif
