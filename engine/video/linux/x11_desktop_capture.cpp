#include "engine/video/linux/x11_desktop_capture.h"

#include <X11/Xutil.h>
#include <X11/extensions/Xfixes.h>
#include <X11/extensions/Xrandr.h>
#include <poll.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <cstring>
#include <string>

#include "base/clock.h"
#include "base/engine_error.h"
#include "base/text.h"

namespace zel {

DesktopCapture::DesktopCapture(const DisplaySelection& selection, bool cursorCapable,
                               const CaptureRegion& region)
    : display_(selection.info),
      region_(region),
      wasPrimary_(selection.info.primary),
      cursorCapable_(cursorCapable),
      cursorVisible_(cursorCapable) {
    Display* d = x_.display;
    const bool useRegion = region.width != 0 && region.height != 0;
    if (useRegion) {
        if (uint64_t(region.x) + region.width > display_.width ||
            uint64_t(region.y) + region.height > display_.height) {
            throw EngineError(4, "Capture region is outside the selected display");
        }
        captureWidth_ = region.width;
        captureHeight_ = region.height;
        originX_ = display_.left + int(region.x);
        originY_ = display_.top + int(region.y);
    } else {
        region_ = {};
        captureWidth_ = display_.width;
        captureHeight_ = display_.height;
        originX_ = display_.left;
        originY_ = display_.top;
    }

    XWindowAttributes attributes;
    XGetWindowAttributes(d, x_.root, &attributes);
    if (attributes.depth < 24) {
        throw EngineError(1, "X11 screen depth " + std::to_string(attributes.depth) +
                                 " is not supported; 24 or 32 bits are needed");
    }
    if (XShmQueryExtension(d)) {
        image_ = XShmCreateImage(d, attributes.visual, unsigned(attributes.depth), ZPixmap, nullptr,
                                 &shm_, captureWidth_, captureHeight_);
        if (image_) {
            shm_.shmid = shmget(IPC_PRIVATE, size_t(image_->bytes_per_line) * image_->height,
                                IPC_CREAT | 0600);
            if (shm_.shmid >= 0) {
                shm_.shmaddr = image_->data = static_cast<char*>(shmat(shm_.shmid, nullptr, 0));
                shm_.readOnly = False;
                useShm_ = shm_.shmaddr != reinterpret_cast<char*>(-1) && XShmAttach(d, &shm_) &&
                          take_x_error(d) == 0;
                // Marked for removal now: the segment goes away with the last
                // user even if the engine dies.
                shmctl(shm_.shmid, IPC_RMID, nullptr);
            }
            if (!useShm_) {
                if (shm_.shmaddr && shm_.shmaddr != reinterpret_cast<char*>(-1))
                    shmdt(shm_.shmaddr);
                image_->data = nullptr;
                XDestroyImage(image_);
                image_ = nullptr;
                shm_ = {};
            }
        }
    }

    int errorBase = 0;
    if (XDamageQueryExtension(d, &damageEventBase_, &errorBase)) {
        damage_ = XDamageCreate(d, x_.root, XDamageReportNonEmpty);
        haveDamage_ = damage_ != 0;
    }
    if (XRRQueryExtension(d, &randrEventBase_, &errorBase)) {
        XRRSelectInput(d, x_.root, RRScreenChangeNotifyMask);
    }
    int fixesEvent = 0;
    haveFixes_ = XFixesQueryExtension(d, &fixesEvent, &errorBase);
    if (!haveFixes_) cursorCapable_ = cursorVisible_ = false;

    texture_.format = PixelFormat::Bgra;
    texture_.width = captureWidth_;
    texture_.height = captureHeight_;
    texture_.planeHeight = captureHeight_;
    // With shared memory and damage events the texture is the segment the
    // server writes into: no copy at all. Without damage events each picture
    // must be compared with the previous one, so it is copied.
    zeroCopy_ = useShm_ && haveDamage_ && image_->bits_per_pixel == 32;
    if (zeroCopy_) {
        texture_.stride = uint32_t(image_->bytes_per_line);
        texture_.external = reinterpret_cast<uint8_t*>(image_->data);
    } else {
        texture_.stride = captureWidth_ * 4;
        texture_.pixels.assign(size_t(texture_.stride) * captureHeight_, 0);
    }
    if (!grab()) throw EngineError(0, "Desktop texture could not be read from the X server");
    if (cursorVisible_) composeCursor();
    dirty_ = false;
}

DesktopCapture::~DesktopCapture() {
    Display* d = x_.display;
    if (haveDamage_) XDamageDestroy(d, damage_);
    if (useShm_) {
        XShmDetach(d, &shm_);
        XSync(d, False);
        shmdt(shm_.shmaddr);
        image_->data = nullptr;
    }
    if (image_) XDestroyImage(image_);
}

void DesktopCapture::handleEvents() {
    Display* d = x_.display;
    while (XPending(d) > 0) {
        XEvent event;
        XNextEvent(d, &event);
        if (haveDamage_ && event.type == damageEventBase_ + XDamageNotify) {
            dirty_ = true;
        } else if (event.type == randrEventBase_ + RRScreenChangeNotify) {
            XRRUpdateConfiguration(&event);
            layoutChanged_ = true;
        }
    }
    if (dirty_ && haveDamage_) XDamageSubtract(d, damage_, None, None);
}

void DesktopCapture::checkLayout() {
    if (!layoutChanged_) return;
    layoutChanged_ = false;
    const auto displays = list_x11_displays(x_.display);
    const DisplayInfo* now = nullptr;
    for (const auto& info : displays) {
        if (info.displayName == display_.displayName) now = &info;
    }
    if (!now) {
        throw EngineError(
            0, "Requested display is no longer attached: " + utf16_to_utf8(display_.displayName));
    }
    if (now->width != display_.width || now->height != display_.height) {
        throw EngineError(0, "Display resolution changed; receiver must renegotiate the stream");
    }
    if (wasPrimary_ && !now->primary) {
        throw EngineError(0, "Primary display changed; receiver must reconnect the stream");
    }
}

bool DesktopCapture::grab(bool* changed) {
    Display* d = x_.display;
    if (useShm_) {
        if (!XShmGetImage(d, x_.root, image_, originX_, originY_, AllPlanes)) return false;
    } else {
        if (image_) XDestroyImage(image_);
        image_ = XGetImage(d, x_.root, originX_, originY_, captureWidth_, captureHeight_, AllPlanes,
                           ZPixmap);
        if (!image_) return false;
    }
    if (image_->bits_per_pixel != 32) return false;
    if (zeroCopy_) {
        underPointer_.discard();  // the new picture has no pointer on it
        return true;
    }
    // The picture goes straight into the texture: one copy a frame. The
    // pointer drawn on the previous picture is taken off first so that an
    // unchanged screen compares equal.
    underPointer_.restore(texture_);
    const size_t rowBytes = size_t(captureWidth_) * 4;
    for (uint32_t y = 0; y < captureHeight_; ++y) {
        const char* source = image_->data + size_t(y) * image_->bytes_per_line;
        if (changed && !*changed) *changed = std::memcmp(texture_.row(y), source, rowBytes) != 0;
        std::memcpy(texture_.row(y), source, rowBytes);
    }
    return true;
}

bool DesktopCapture::pointerMoved() {
    XFixesCursorImage* c = XFixesGetCursorImage(x_.display);
    if (!c) return false;
    const bool moved =
        c->x != cursorX_ || c->y != cursorY_ || long(c->cursor_serial) != cursorSerial_;
    XFree(c);
    return moved;
}

void DesktopCapture::composeCursor() {
    PointerState state;
    if (draw_x11_pointer(x_.display, texture_, originX_, originY_, &state, &underPointer_)) {
        cursorX_ = state.x;
        cursorY_ = state.y;
        cursorSerial_ = long(state.serial);
    }
}

CapturedFrame DesktopCapture::acquireFrame(uint32_t timeoutMs) {
    // Not every layout change comes with an event (monitor changes through
    // some drivers do not), so the layout is also compared twice a second.
    const uint64_t nowNs = steady_now_ns();
    if (nowNs - lastLayoutCheckNs_ >= 500'000'000ull) {
        lastLayoutCheckNs_ = nowNs;
        layoutChanged_ = true;
    }
    handleEvents();
    checkLayout();
    if (!dirty_ && timeoutMs > 0) {
        const uint64_t deadline = steady_now_ns() + uint64_t(timeoutMs) * 1'000'000;
        while (!dirty_ && !layoutChanged_) {
            const uint64_t now = steady_now_ns();
            if (now >= deadline) break;
            pollfd p{ConnectionNumber(x_.display), POLLIN, 0};
            ::poll(&p, 1, int((deadline - now + 999'999) / 1'000'000));
            handleEvents();
        }
        checkLayout();
    }
    // Without XDamage every call reads the screen and compares.
    bool changed = false;
    const bool grabbed = dirty_ || !haveDamage_;
    if (grabbed) {
        dirty_ = false;
        changed = haveDamage_;
        if (!grab(&changed))
            throw EngineError(0, "Desktop texture could not be read from the X server");
    }
    const bool moved = cursorVisible_ && pointerMoved();
    // A fresh grab has no pointer on it, even when nothing else changed.
    if (changed || moved || grabbed) {
        underPointer_.restore(texture_);
        if (cursorVisible_) composeCursor();
    }
    return {&texture_, steady_now_us(), changed || moved};
}

bool DesktopCapture::setCursorVisible(bool visible) {
    if (visible && !cursorCapable_) return false;
    if (visible != cursorVisible_) {
        cursorVisible_ = visible;
        underPointer_.restore(texture_);
        if (cursorVisible_) composeCursor();
    }
    return true;
}

std::unique_ptr<VideoCaptureSource> create_desktop_capture(const DisplaySelection& selection,
                                                           bool cursorCapable,
                                                           const CaptureRegion& region) {
    return std::make_unique<DesktopCapture>(selection, cursorCapable, region);
}

}  // namespace zel
