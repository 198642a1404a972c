#pragma once

#include <cstdint>
#include <memory>

#include "engine/video/video_types.h"

namespace zel {

// Resizes the capture texture to the stream's size. On Windows a Direct3D
// video processor; on Linux a bilinear pass on the CPU.
class VideoScaler {
public:
    virtual ~VideoScaler() = default;
    virtual void scale() = 0;
    virtual VideoTexture* outputTexture() = 0;
};

std::unique_ptr<VideoScaler> create_video_scaler(VideoDevice* device, VideoTexture* source,
                                                 uint32_t outputWidth, uint32_t outputHeight,
                                                 uint32_t fps);

}  // namespace zel
