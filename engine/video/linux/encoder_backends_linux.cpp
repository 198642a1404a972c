#include "base/engine_error.h"
#include "engine/video/encoder_selection.h"
#include "engine/video/linux/x264_encoder.h"

namespace zel {

// On Linux the software H.264 kind is x264; hardware H.264 and HEVC have no
// backend yet and report themselves unavailable.
EncoderBackends platform_encoder_backends() {
    EncoderBackends b;
    b.mediaFoundation = [](VideoDevice* device, VideoTexture* texture, const EncoderSettings& settings,
                           bool hardware, bool hevc) -> std::unique_ptr<VideoEncoder> {
        if (hevc) throw EngineError(1, "Hardware HEVC encoding is not available on this platform");
        if (hardware) throw EngineError(1, "Hardware H.264 encoding is not available on this platform");
        return std::make_unique<X264Encoder>(device, texture, settings);
    };
    return b;
}

}  // namespace zel
