#include "base/engine_error.h"
#include "engine/video/capture_sources.h"

namespace zel {

// The Direct3D capture sources plug in here as they arrive.
namespace {
[[noreturn]] void unavailable() {
    throw EngineError(1, "Screen capture is not available in this build");
}
}  // namespace

std::vector<DisplayInfo> listDisplays() { unavailable(); }
DisplaySelection selectDisplay(const std::u16string&) { unavailable(); }
DisplaySelection selectPrimaryDisplay() { unavailable(); }
std::unique_ptr<VideoCaptureSource> create_desktop_capture(const DisplaySelection&, bool,
                                                           const CaptureRegion&) {
    unavailable();
}
std::unique_ptr<VideoCaptureSource> create_window_capture(const DisplaySelection&, uint64_t, bool) {
    unavailable();
}
uint64_t find_application_window(const std::u16string&, const std::u16string&) { return 0; }
uint64_t find_process_window(uint32_t) { return 0; }

}  // namespace zel
