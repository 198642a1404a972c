#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xcomposite.h>
#include <X11/extensions/Xdamage.h>
#include <X11/extensions/Xfixes.h>
#include <poll.h>

#include <cctype>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "base/clock.h"
#include "base/engine_error.h"
#include "base/text.h"
#include "engine/video/capture_sources.h"
#include "engine/video/linux/x11_display.h"

namespace zel {

namespace {

std::string lower(std::string s) {
    for (auto& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// A window property as raw items; empty when missing.
std::vector<unsigned char> property(Display* d, Window w, Atom name, Atom type, int& format,
                                    unsigned long& items) {
    Atom actual = None;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    items = 0;
    format = 0;
    if (XGetWindowProperty(d, w, name, 0, 1 << 16, False, type, &actual, &format, &items, &after,
                           &data) != Success ||
        !data) {
        return {};
    }
    const size_t unit = format == 32 ? sizeof(long) : size_t(format / 8);
    std::vector<unsigned char> out(data, data + items * unit);
    XFree(data);
    return out;
}

uint32_t window_pid(Display* d, Window w) {
    int format = 0;
    unsigned long items = 0;
    const auto data = property(d, w, XInternAtom(d, "_NET_WM_PID", False), XA_CARDINAL, format, items);
    if (format != 32 || items < 1) return 0;
    long pid = 0;
    std::memcpy(&pid, data.data(), sizeof pid);
    return uint32_t(pid);
}

std::string window_title(Display* d, Window w) {
    int format = 0;
    unsigned long items = 0;
    auto data = property(d, w, XInternAtom(d, "_NET_WM_NAME", False),
                         XInternAtom(d, "UTF8_STRING", False), format, items);
    if (data.empty()) data = property(d, w, XA_WM_NAME, AnyPropertyType, format, items);
    return std::string(data.begin(), data.end());
}

bool is_tool_window(Display* d, Window w) {
    int format = 0;
    unsigned long items = 0;
    const auto data = property(d, w, XInternAtom(d, "_NET_WM_WINDOW_TYPE", False), XA_ATOM, format, items);
    const Atom normal = XInternAtom(d, "_NET_WM_WINDOW_TYPE_NORMAL", False);
    for (unsigned long i = 0; i < items; ++i) {
        long atom = 0;
        std::memcpy(&atom, data.data() + i * sizeof(long), sizeof atom);
        if (Atom(atom) == normal) return false;
    }
    return items > 0;  // typed, but not a normal window: a tool, menu, dock...
}

struct Candidate {
    Window window;
    uint64_t area;
    std::string title;
};

// Visible, non-override-redirect, non-tool top-level windows with their owning process.
template <typename Keep>
std::vector<Candidate> top_level_windows(Display* d, Window root, Keep keep) {
    std::vector<Candidate> out;
    Window rootReturn = 0, parent = 0;
    Window* children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(d, root, &rootReturn, &parent, &children, &count)) return out;
    for (unsigned i = 0; i < count; ++i) {
        XWindowAttributes a;
        if (!XGetWindowAttributes(d, children[i], &a)) continue;
        if (a.map_state != IsViewable || a.override_redirect || a.width <= 0 || a.height <= 0) continue;
        if (is_tool_window(d, children[i])) continue;
        const uint32_t pid = window_pid(d, children[i]);
        if (!keep(pid)) continue;
        out.push_back({children[i], uint64_t(a.width) * uint64_t(a.height), window_title(d, children[i])});
    }
    if (children) XFree(children);
    take_x_error(d);
    return out;
}

std::string process_image(uint32_t pid) {
    std::error_code ec;
    const auto p = std::filesystem::read_symlink("/proc/" + std::to_string(pid) + "/exe", ec);
    return ec ? std::string() : p.string();
}

uint64_t largest(const std::vector<Candidate>& list, const std::string& title) {
    const Candidate* best = nullptr;
    const Candidate* bestTitled = nullptr;
    for (const auto& c : list) {
        if (!best || c.area > best->area) best = &c;
        if (!title.empty() && c.title == title && (!bestTitled || c.area > bestTitled->area)) bestTitled = &c;
    }
    if (bestTitled) return bestTitled->window;
    return best ? best->window : 0;
}

// One X window as a capture source, read through XComposite so that windows
// on top of it do not end up in the picture.
class WindowCapture final : public VideoCaptureSource {
public:
    WindowCapture(Window window, bool cursorVisible) : window_(window), cursorVisible_(cursorVisible) {
        Display* d = x_.display;
        XWindowAttributes a;
        if (!XGetWindowAttributes(d, window_, &a) || take_x_error(d) != 0) {
            throw EngineError(0, "Selected window is no longer available");
        }
        if (a.width <= 0 || a.height <= 0) throw EngineError(0, "Selected window has no capturable content");
        int eventBase = 0, errorBase = 0;
        if (!XCompositeQueryExtension(d, &eventBase, &errorBase)) {
            throw EngineError(0, "Window capture needs the X Composite extension");
        }
        XCompositeRedirectWindow(d, window_, CompositeRedirectAutomatic);
        if (XDamageQueryExtension(d, &damageEventBase_, &errorBase)) {
            damage_ = XDamageCreate(d, window_, XDamageReportNonEmpty);
        }
        XSelectInput(d, window_, StructureNotifyMask);
        width_ = uint32_t(a.width);
        height_ = uint32_t(a.height);
        // Odd sizes cannot be encoded as 4:2:0; the last column or row is left out.
        texture_.width = width_ & ~1u;
        texture_.height = height_ & ~1u;
        texture_.stride = texture_.width * 4;
        texture_.planeHeight = texture_.height;
        texture_.pixels.assign(size_t(texture_.stride) * texture_.height, 0);
        if (take_x_error(d) != 0) throw EngineError(0, "Selected window is no longer available");
    }

    ~WindowCapture() override {
        Display* d = x_.display;
        if (damage_) XDamageDestroy(d, damage_);
        XCompositeUnredirectWindow(d, window_, CompositeRedirectAutomatic);
        XSync(d, False);
        take_x_error(d);
    }

    CapturedFrame acquireFrame(uint32_t timeoutMs) override {
        const uint64_t deadline = steady_now_ns() + uint64_t(timeoutMs) * 1'000'000;
        for (;;) {
            handleEvents();
            if (dirty_ || !damage_) break;
            const uint64_t now = steady_now_ns();
            if (timeoutMs == 0 || now >= deadline) return {&texture_, steady_now_us(), false};
            pollfd p{ConnectionNumber(x_.display), POLLIN, 0};
            ::poll(&p, 1, int((deadline - now + 999'999) / 1'000'000));
        }
        dirty_ = false;
        if (damage_) XDamageSubtract(x_.display, damage_, None, None);
        grab();
        return {&texture_, steady_now_us(), true};
    }

    VideoDevice* device() override { return &device_; }
    VideoTexture* texture() override { return &texture_; }
    uint32_t width() override { return texture_.width; }
    uint32_t height() override { return texture_.height; }
    bool setCursorVisible(bool visible) override {
        cursorVisible_ = visible;
        return true;
    }
    bool cursorVisible() override { return cursorVisible_; }
    bool cursorSupported() override { return true; }

private:
    void handleEvents() {
        Display* d = x_.display;
        while (XPending(d) > 0) {
            XEvent e;
            XNextEvent(d, &e);
            if (e.type == DestroyNotify && e.xdestroywindow.window == window_) closed_ = true;
            if (e.type == UnmapNotify && e.xunmap.window == window_) closed_ = true;
            if (e.type == ConfigureNotify && e.xconfigure.window == window_ &&
                (uint32_t(e.xconfigure.width) != width_ || uint32_t(e.xconfigure.height) != height_)) {
                resized_ = true;
            }
            if (damage_ && e.type == damageEventBase_ + XDamageNotify) dirty_ = true;
        }
        if (closed_) throw EngineError(0, "Captured window was closed");
        if (resized_) throw EngineError(0, "Window size changed; receiver must reconnect the stream");
    }

    void grab() {
        Display* d = x_.display;
        const Pixmap pixmap = XCompositeNameWindowPixmap(d, window_);
        XImage* image = XGetImage(d, pixmap, 0, 0, texture_.width, texture_.height, AllPlanes, ZPixmap);
        XFreePixmap(d, pixmap);
        if (!image || take_x_error(d) != 0) {
            if (image) XDestroyImage(image);
            XWindowAttributes a;
            if (!XGetWindowAttributes(d, window_, &a) || take_x_error(d) != 0) {
                throw EngineError(0, "Captured window was closed");
            }
            throw EngineError(0, "Access captured window texture failed");
        }
        for (uint32_t y = 0; y < texture_.height; ++y) {
            std::memcpy(texture_.row(y), image->data + size_t(y) * image->bytes_per_line, texture_.stride);
        }
        XDestroyImage(image);
        if (cursorVisible_) drawCursor();
    }

    void drawCursor() {
        int wx = 0, wy = 0;
        Window child = 0;
        if (XTranslateCoordinates(x_.display, window_, x_.root, 0, 0, &wx, &wy, &child)) {
            draw_x11_pointer(x_.display, texture_, wx, wy);
        }
    }

    X11Connection x_;
    Window window_;
    bool cursorVisible_;
    uint32_t width_ = 0, height_ = 0;
    Damage damage_ = 0;
    int damageEventBase_ = 0;
    bool dirty_ = true;
    bool closed_ = false;
    bool resized_ = false;
    CpuDevice device_;
    CpuImage texture_;
};

}  // namespace

std::unique_ptr<VideoCaptureSource> create_window_capture(const DisplaySelection&, uint64_t window,
                                                          bool cursorVisible) {
    return std::make_unique<WindowCapture>(Window(window), cursorVisible);
}

uint64_t find_application_window(const std::u16string& application, const std::u16string& title) {
    X11Connection x;
    const std::string wanted = lower(utf16_to_utf8(application));
    const auto list = top_level_windows(x.display, x.root, [&](uint32_t pid) {
        return pid != 0 && lower(process_image(pid)) == wanted;
    });
    return largest(list, utf16_to_utf8(title));
}

uint64_t find_process_window(uint32_t processId) {
    X11Connection x;
    const auto list = top_level_windows(x.display, x.root, [&](uint32_t pid) { return pid == processId; });
    return largest(list, {});
}

}  // namespace zel
