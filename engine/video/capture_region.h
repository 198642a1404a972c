#pragma once

#include <cstdint>

namespace zel {

// A desktop region in pixels of the selected display. Used only when both
// width and height are non-zero; otherwise the whole display is captured.
struct CaptureRegion {
    uint32_t x = 0;
    uint32_t y = 0;
    uint32_t width = 0;
    uint32_t height = 0;
};

}  // namespace zel
