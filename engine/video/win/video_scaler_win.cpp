#include "base/engine_error.h"
#include "engine/video/video_scaler.h"

namespace zel {

// The Direct3D video processor plugs in here.
std::unique_ptr<VideoScaler> create_video_scaler(VideoDevice*, VideoTexture*, uint32_t, uint32_t,
                                                 uint32_t) {
    throw EngineError(1, "Scale desktop frame failed: not available in this build");
}

}  // namespace zel
