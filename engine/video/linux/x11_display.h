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

// The monitors of the screen as RandR reports them, or one display covering
// the whole screen when RandR has none.
std::vector<DisplayInfo> list_x11_displays(Display* display);

}  // namespace zel
