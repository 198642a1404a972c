#pragma once

#include <cstdint>
#include <vector>

#include "engine/video/video_types.h"

struct x264_t;

namespace zel {

// CPU H.264 through libx264, tuned for latency: no B-frames, one reference,
// no look-ahead, an endless GOP with IDR pictures on request, parameter sets
// in front of every IDR, constant bitrate with a one-frame VBV. A BGRA input
// is converted to NV12 in the encoder; an NV12 input is passed straight on.
class X264Encoder final : public VideoEncoder {
public:
    X264Encoder(VideoDevice* device, VideoTexture* inputTexture, const EncoderSettings& settings);
    ~X264Encoder() override;

    const EncoderInfo& info() const override { return info_; }
    EncodedVideoFrame encode(const CapturedFrame& frame, uint32_t sequence, bool forceKeyFrame) override;
    bool setBitrate(uint32_t bitsPerSecond) override;
    void flush() override {}

private:
    VideoTexture* input_;
    EncoderSettings settings_;
    EncoderInfo info_;
    x264_t* encoder_ = nullptr;
    std::vector<uint8_t> nv12_;  // conversion target for BGRA input
    int64_t pts_ = 0;
};

}  // namespace zel
