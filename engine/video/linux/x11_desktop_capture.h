#pragma once

#include <X11/Xlib.h>
#include <X11/extensions/XShm.h>
#include <X11/extensions/Xdamage.h>

#include <vector>

#include "engine/video/capture_sources.h"
#include "engine/video/linux/x11_display.h"

namespace zel {

// A display of the X screen, or a region of it, as a capture source. Pictures
// are read with MIT-SHM when the server offers it; XDamage tells when the
// screen changed so an unchanged screen costs no copy. The pointer is drawn
// from XFixes' cursor image.
class DesktopCapture final : public VideoCaptureSource {
public:
    DesktopCapture(const DisplaySelection& selection, bool cursorCapable, const CaptureRegion& region);
    ~DesktopCapture() override;

    CapturedFrame acquireFrame(uint32_t timeoutMs) override;
    VideoDevice* device() override { return &device_; }
    VideoTexture* texture() override { return &texture_; }
    uint32_t width() override { return captureWidth_; }
    uint32_t height() override { return captureHeight_; }
    bool setCursorVisible(bool visible) override;
    bool cursorVisible() override { return cursorVisible_; }
    bool cursorSupported() override { return cursorCapable_; }

private:
    void handleEvents();
    void checkLayout();
    // Reads the screen into the texture; *changed (when given) becomes true
    // if any pixel differs from the previous picture.
    bool grab(bool* changed = nullptr);
    bool pointerMoved();
    void composeCursor();

    X11Connection x_;
    DisplayInfo display_;
    CaptureRegion region_;
    bool wasPrimary_;
    bool cursorCapable_;
    bool cursorVisible_;
    uint32_t captureWidth_ = 0;
    uint32_t captureHeight_ = 0;
    int originX_ = 0;  // top-left of the captured area in root coordinates
    int originY_ = 0;

    bool useShm_ = false;
    bool zeroCopy_ = false;  // the texture is the shared-memory image
    XShmSegmentInfo shm_{};
    XImage* image_ = nullptr;
    int damageEventBase_ = 0;
    int randrEventBase_ = 0;
    bool haveDamage_ = false;
    Damage damage_ = 0;
    bool dirty_ = true;
    bool layoutChanged_ = false;
    uint64_t lastLayoutCheckNs_ = 0;
    bool haveFixes_ = false;

    CpuDevice device_;
    CpuImage texture_;
    SavedArea underPointer_;  // what the drawn pointer covers
    long cursorSerial_ = -1;
    int cursorX_ = -100000;
    int cursorY_ = -100000;
};

}  // namespace zel
