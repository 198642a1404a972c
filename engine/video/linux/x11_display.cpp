#include "engine/video/linux/x11_display.h"

#include <X11/extensions/Xfixes.h>
#include <X11/extensions/Xrandr.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstring>
#include <string>

#include "base/engine_error.h"
#include "base/text.h"

namespace zel {

namespace {

std::atomic<int> lastError{0};

int record_error(Display*, XErrorEvent* event) {
    lastError = event->error_code;
    return 0;
}

std::u16string gpu_name(Display* display) {
    return utf8_to_utf16(std::string("X11 ") + ServerVendor(display));
}

bool equal_ignoring_case(const std::u16string& a, const std::u16string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        const char16_t x = a[i] < 128 ? char16_t(std::tolower(int(a[i]))) : a[i];
        const char16_t y = b[i] < 128 ? char16_t(std::tolower(int(b[i]))) : b[i];
        if (x != y) return false;
    }
    return true;
}

}  // namespace

X11Connection::X11Connection() {
    XSetErrorHandler(record_error);
    display = XOpenDisplay(nullptr);
    if (!display) {
        throw EngineError(0, "No desktop-attached GPU output was found (cannot open X display)");
    }
    root = DefaultRootWindow(display);
}

X11Connection::~X11Connection() {
    if (display) XCloseDisplay(display);
}

int take_x_error(Display* display) {
    XSync(display, False);
    return lastError.exchange(0);
}

void SavedArea::restore(CpuImage& image) {
    for (int row = 0; row < height; ++row) {
        std::memcpy(image.row(uint32_t(y + row)) + size_t(x) * 4,
                    pixels.data() + size_t(row) * size_t(width) * 4, size_t(width) * 4);
    }
    width = height = 0;
}

bool draw_x11_pointer(Display* display, CpuImage& image, int originX, int originY,
                      PointerState* state, SavedArea* covered) {
    XFixesCursorImage* c = XFixesGetCursorImage(display);
    if (!c) return false;
    if (state) *state = {c->x, c->y, c->cursor_serial};
    const int left = c->x - c->xhot - originX;
    const int top = c->y - c->yhot - originY;
    if (covered) {
        covered->x = std::clamp(left, 0, int(image.width));
        covered->y = std::clamp(top, 0, int(image.height));
        covered->width = std::clamp(left + int(c->width), 0, int(image.width)) - covered->x;
        covered->height = std::clamp(top + int(c->height), 0, int(image.height)) - covered->y;
        covered->pixels.resize(size_t(covered->width) * size_t(covered->height) * 4);
        for (int row = 0; row < covered->height; ++row) {
            std::memcpy(covered->pixels.data() + size_t(row) * size_t(covered->width) * 4,
                        image.row(uint32_t(covered->y + row)) + size_t(covered->x) * 4,
                        size_t(covered->width) * 4);
        }
    }
    for (int cy = 0; cy < c->height; ++cy) {
        const int y = top + cy;
        if (y < 0 || y >= int(image.height)) continue;
        uint8_t* row = image.row(uint32_t(y));
        for (int cx = 0; cx < c->width; ++cx) {
            const int x = left + cx;
            if (x < 0 || x >= int(image.width)) continue;
            // One premultiplied ARGB pixel per unsigned long.
            const unsigned long argb = c->pixels[cy * c->width + cx];
            const unsigned a = (argb >> 24) & 0xFF;
            if (a == 0) continue;
            uint8_t* p = row + x * 4;
            const unsigned keep = 255 - a;
            p[0] = uint8_t((argb & 0xFF) + p[0] * keep / 255);
            p[1] = uint8_t(((argb >> 8) & 0xFF) + p[1] * keep / 255);
            p[2] = uint8_t(((argb >> 16) & 0xFF) + p[2] * keep / 255);
        }
    }
    XFree(c);
    return true;
}

std::vector<DisplayInfo> list_x11_displays(Display* display) {
    std::vector<DisplayInfo> result;
    int eventBase = 0, errorBase = 0;
    if (XRRQueryExtension(display, &eventBase, &errorBase)) {
        int count = 0;
        XRRMonitorInfo* monitors = XRRGetMonitors(display, DefaultRootWindow(display), True, &count);
        for (int i = 0; monitors && i < count; ++i) {
            const XRRMonitorInfo& m = monitors[i];
            if (m.width <= 0 || m.height <= 0) continue;
            DisplayInfo info;
            char* name = XGetAtomName(display, m.name);
            info.displayName = utf8_to_utf16(name ? name : "screen");
            if (name) XFree(name);
            info.gpuName = gpu_name(display);
            info.primary = m.primary != 0;
            info.left = m.x;
            info.top = m.y;
            info.width = uint32_t(m.width);
            info.height = uint32_t(m.height);
            result.push_back(std::move(info));
        }
        if (monitors) XRRFreeMonitors(monitors);
        // X has no primary until someone names one; then the first monitor
        // plays that part, as desktops treat it.
        bool anyPrimary = false;
        for (const auto& info : result) anyPrimary = anyPrimary || info.primary;
        if (!anyPrimary && !result.empty()) result.front().primary = true;
    }
    if (result.empty()) {
        DisplayInfo info;
        info.displayName = utf8_to_utf16(DisplayString(display));
        info.gpuName = gpu_name(display);
        info.primary = true;
        info.width = uint32_t(DisplayWidth(display, DefaultScreen(display)));
        info.height = uint32_t(DisplayHeight(display, DefaultScreen(display)));
        result.push_back(std::move(info));
    }
    return result;
}

std::vector<DisplayInfo> listDisplays() {
    X11Connection x;
    return list_x11_displays(x.display);
}

DisplaySelection selectDisplay(const std::u16string& name) {
    if (name.empty()) return selectPrimaryDisplay();
    for (auto& d : listDisplays()) {
        if (equal_ignoring_case(d.displayName, name)) return {d};
    }
    throw EngineError(0, "Requested display is no longer attached: " + utf16_to_utf8(name));
}

DisplaySelection selectPrimaryDisplay() {
    const auto displays = listDisplays();
    for (const auto& d : displays) {
        if (d.primary) return {d};
    }
    if (displays.empty()) throw EngineError(0, "No desktop-attached GPU output was found");
    return {displays.front()};
}

}  // namespace zel
