#include <algorithm>
#include <vector>

#include "base/engine_error.h"
#include "engine/video/video_scaler.h"

namespace zel {

namespace {

// Bilinear BGRA resize with 16.16 fixed-point source positions; the tables of
// positions and weights are built once, so a frame costs only the blend.
class CpuScaler final : public VideoScaler {
public:
    CpuScaler(VideoTexture* source, uint32_t width, uint32_t height) : source_(source) {
        if (!source || source->format != PixelFormat::Bgra || width == 0 || height == 0) {
            throw EngineError(1, "Scale desktop frame failed: unsupported source");
        }
        out_.format = PixelFormat::Bgra;
        out_.width = width;
        out_.height = height;
        out_.stride = width * 4;
        out_.planeHeight = height;
        out_.pixels.assign(size_t(out_.stride) * height, 0);
        build(source->width, width, xIndex_, xWeight_);
        build(source->height, height, yIndex_, yWeight_);
    }

    void scale() override {
        const CpuImage& src = *source_;
        for (uint32_t y = 0; y < out_.height; ++y) {
            const uint8_t* r0 = src.row(yIndex_[y]);
            const uint8_t* r1 = src.row(std::min(yIndex_[y] + 1, src.height - 1));
            const uint32_t wy = yWeight_[y];
            uint8_t* out = out_.row(y);
            for (uint32_t x = 0; x < out_.width; ++x) {
                const uint32_t i0 = xIndex_[x] * 4;
                const uint32_t i1 = std::min(xIndex_[x] + 1, src.width - 1) * 4;
                const uint32_t wx = xWeight_[x];
                for (int c = 0; c < 4; ++c) {
                    const uint32_t top = r0[i0 + c] * (256 - wx) + r0[i1 + c] * wx;
                    const uint32_t bottom = r1[i0 + c] * (256 - wx) + r1[i1 + c] * wx;
                    out[x * 4 + c] = uint8_t((top * (256 - wy) + bottom * wy + 32768) >> 16);
                }
            }
        }
    }

    VideoTexture* outputTexture() override { return &out_; }

private:
    static void build(uint32_t from, uint32_t to, std::vector<uint32_t>& index,
                      std::vector<uint32_t>& weight) {
        index.resize(to);
        weight.resize(to);
        for (uint32_t i = 0; i < to; ++i) {
            // Pixel centres map onto pixel centres.
            int64_t pos = ((int64_t(2 * i + 1) * from << 16) / (2 * int64_t(to))) - 32768;
            if (pos < 0) pos = 0;
            index[i] = std::min<uint32_t>(uint32_t(pos >> 16), from - 1);
            weight[i] = uint32_t((pos & 0xFFFF) >> 8);
        }
    }

    VideoTexture* source_;
    CpuImage out_;
    std::vector<uint32_t> xIndex_, xWeight_, yIndex_, yWeight_;
};

}  // namespace

std::unique_ptr<VideoScaler> create_video_scaler(VideoDevice*, VideoTexture* source,
                                                 uint32_t outputWidth, uint32_t outputHeight,
                                                 uint32_t) {
    return std::make_unique<CpuScaler>(source, outputWidth, outputHeight);
}

}  // namespace zel
