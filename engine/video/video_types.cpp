#include "engine/video/video_types.h"

namespace zel {

const char* encoder_backend_display_name(int kind) {
    switch (kind) {
        case 0: return "NVIDIA NVENC";
        case 1: return "AMD AMF";
        case 2: return "Intel oneVPL";
        case 3: return "Intel Quick Sync legacy";
        case 4: return "legacy GPU H.264";
        case 5: return "CPU software H.264";
        default: return "unknown";
    }
}

}  // namespace zel
