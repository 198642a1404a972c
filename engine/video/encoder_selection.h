#pragma once

#include <functional>
#include <memory>

#include "engine/video/video_types.h"

namespace zel {

inline constexpr uint32_t kVendorNvidia = 0x10DE;
inline constexpr uint32_t kVendorAmd = 0x1002;
inline constexpr uint32_t kVendorIntel = 0x8086;

// The constructors the selection may call, one per backend. A slot left empty
// stands for a backend this build does not have; trying it fails like a
// backend whose runtime is missing.
struct EncoderBackends {
    using Plain = std::function<std::unique_ptr<VideoEncoder>(VideoDevice*, VideoTexture*,
                                                              const EncoderSettings&)>;
    using MediaFoundation = std::function<std::unique_ptr<VideoEncoder>(
        VideoDevice*, VideoTexture*, const EncoderSettings&, bool hardware, bool hevc)>;
    Plain nvenc;
    Plain amf;
    Plain vpl;
    Plain legacyMfx;
    MediaFoundation mediaFoundation;
};

// Builds the first backend that comes up for the adapter's vendor, HEVC first
// when asked. Throws EngineError category 1 naming every attempt and why it
// failed when none does.
std::unique_ptr<VideoEncoder> select_video_encoder(const EncoderBackends& backends,
                                                   VideoDevice* device, VideoTexture* inputTexture,
                                                   const EncoderSettings& settings,
                                                   uint32_t vendorId);

// The selection over this platform's real backends.
std::unique_ptr<VideoEncoder> createVideoEncoder(VideoDevice* device, VideoTexture* inputTexture,
                                                 const EncoderSettings& settings, uint32_t vendorId);

// This platform's backend table (defined once per OS).
EncoderBackends platform_encoder_backends();

}  // namespace zel
