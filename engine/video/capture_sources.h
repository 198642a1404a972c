#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/video/video_types.h"

namespace zel {

// One attached display.
struct DisplayInfo {
    uint32_t vendorId = 0;
    uint32_t deviceId = 0;
    std::u16string gpuName;
    std::u16string displayName;  // the display's identifier everywhere in the engine
    bool primary = false;
    // Desktop rectangle in virtual-screen pixels.
    int32_t left = 0;
    int32_t top = 0;
    uint32_t width = 0;
    uint32_t height = 0;
};

// A chosen display; what the capture sources are built on.
struct DisplaySelection {
    DisplayInfo info;
};

std::vector<DisplayInfo> listDisplays();
// An empty name selects the primary display. Throws EngineError category 0
// "Requested display is no longer attached: <name>" for an unknown name.
DisplaySelection selectDisplay(const std::u16string& name);
DisplaySelection selectPrimaryDisplay();

std::unique_ptr<VideoCaptureSource> create_desktop_capture(const DisplaySelection& selection,
                                                           bool cursorCapable,
                                                           const CaptureRegion& region);
std::unique_ptr<VideoCaptureSource> create_window_capture(const DisplaySelection& selection,
                                                          uint64_t window, bool cursorVisible);

// The largest visible top-level window of the application (whose executable
// path equals application, ignoring case), preferring an exact title match
// when title is not empty; 0 when there is none.
uint64_t find_application_window(const std::u16string& application, const std::u16string& title);
// The largest visible top-level window of the process; 0 when there is none.
uint64_t find_process_window(uint32_t processId);

}  // namespace zel
