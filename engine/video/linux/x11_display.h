#pragma once

#include <X11/Xlib.h>

#include <memory>
#include <vector>

#include "engine/video/capture_sources.h"

namespace zel {

// An Xlib connection to $DISPLAY, closed on destruction. Xlib's default error
// handler ends the process on any protocol error (a window that vanished
// between two calls, say); the handler installed here records the error so
// the caller can check last_x_error() instead.
struct X11Connection {
    X11Connection();
    ~X11Connection();
    X11Connection(const X11Connection&) = delete;
    X11Connection& operator=(const X11Connection&) = delete;

    Display* display = nullptr;
    Window root = 0;
};

// Returns and clears the code of the last protocol error (0 when none).
int take_x_error(Display* display);

// Blends the pointer (XFixes' premultiplied ARGB cursor image) into a BGRA
// image whose top-left corner is at (originX, originY) in root coordinates;
// the part outside the image is clipped. Returns the pointer's position and
// cursor serial for change detection (false when there is no cursor image).
struct PointerState {
    int x = 0;
    int y = 0;
    unsigned long serial = 0;
};
// The pixels of a rectangle of a BGRA image, kept so that what a drawn pointer
// covered can be put back without reading the whole picture again.
struct SavedArea {
    int x = 0, y = 0, width = 0, height = 0;
    std::vector<uint8_t> pixels;
    void restore(CpuImage& image);
    void discard() { width = height = 0; }
};
// `covered`, when given, receives what the pointer is drawn over.
bool draw_x11_pointer(Display* display, CpuImage& image, int originX, int originY,
                      PointerState* state = nullptr, SavedArea* covered = nullptr);

// The monitors of the screen as RandR reports them, or one display covering
// the whole screen when RandR has none.
std::vector<DisplayInfo> list_x11_displays(Display* display);

}  // namespace zel
