// Capture sources against a real X server (a private Xvfb).
#include <gtest/gtest.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <unistd.h>

#include <cstring>
#include <vector>

#include "base/engine_error.h"
#include "engine/video/capture_sources.h"
#include "tests/support/xvfb.h"

namespace zel {
namespace {

// A test client that puts solid-coloured windows on the screen.
struct Painter {
    Painter() : d(XOpenDisplay(nullptr)) {}
    ~Painter() {
        if (d) XCloseDisplay(d);
    }
    Window window(int x, int y, unsigned w, unsigned h, unsigned long rgb,
                  const char* title = "zel") {
        Window win = XCreateSimpleWindow(d, DefaultRootWindow(d), x, y, w, h, 0, 0, rgb);
        const long pid = getpid();
        XChangeProperty(d, win, XInternAtom(d, "_NET_WM_PID", False), XA_CARDINAL, 32,
                        PropModeReplace, reinterpret_cast<const unsigned char*>(&pid), 1);
        XStoreName(d, win, title);
        XMapWindow(d, win);
        XSync(d, False);
        usleep(100000);  // let the server paint the background
        return win;
    }
    void recolour(Window win, unsigned long rgb) {
        XSetWindowBackground(d, win, rgb);
        XClearWindow(d, win);
        XSync(d, False);
    }
    Display* d;
};

// B, G, R of one pixel of a BGRA image.
std::tuple<int, int, int> bgr(const CpuImage& image, uint32_t x, uint32_t y) {
    const uint8_t* p = image.row(y) + x * 4;
    return {p[0], p[1], p[2]};
}

class X11Capture : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!xvfb_.ok()) GTEST_SKIP() << "Xvfb is not available";
    }
    XvfbServer xvfb_;
};

TEST_F(X11Capture, DesktopPicturesRegionsAndChanges) {
    Painter painter;
    const Window red = painter.window(100, 100, 200, 100, 0xFF0000);
    const auto display = selectPrimaryDisplay();
    EXPECT_TRUE(display.info.primary);
    EXPECT_EQ(display.info.width, 640u);

    auto whole = create_desktop_capture(display, false, {});
    EXPECT_EQ(whole->width(), 640u);
    EXPECT_EQ(whole->height(), 480u);
    EXPECT_EQ(bgr(*whole->texture(), 150, 150), std::make_tuple(0, 0, 255));
    EXPECT_EQ(bgr(*whole->texture(), 50, 50), std::make_tuple(0, 0, 0));

    auto region = create_desktop_capture(display, false, {100, 100, 64, 64});
    EXPECT_EQ(region->width(), 64u);
    EXPECT_EQ(bgr(*region->texture(), 0, 0), std::make_tuple(0, 0, 255));
    EXPECT_EQ(bgr(*region->texture(), 63, 63), std::make_tuple(0, 0, 255));

    region->acquireFrame(0);  // consume what the construction already saw
    EXPECT_FALSE(region->acquireFrame(50).isNew) << "an unchanged screen is not new";
    painter.recolour(red, 0x00FF00);
    const CapturedFrame changed = region->acquireFrame(1000);
    EXPECT_TRUE(changed.isNew);
    EXPECT_EQ(changed.texture, region->texture());
    EXPECT_EQ(bgr(*region->texture(), 10, 10), std::make_tuple(0, 255, 0));
}

TEST_F(X11Capture, SelectionAndRegionErrors) {
    EXPECT_EQ(selectDisplay(u"SCREEN").info.displayName, u"screen") << "names ignore case";
    try {
        selectDisplay(u"HDMI-9");
        ADD_FAILURE();
    } catch (const EngineError& e) {
        EXPECT_EQ(e.category(), 0);
        EXPECT_STREQ(e.what(), "Requested display is no longer attached: HDMI-9");
    }
    const auto display = selectPrimaryDisplay();
    EXPECT_NO_THROW(create_desktop_capture(display, false, {576, 416, 64, 64}));
    try {
        create_desktop_capture(display, false, {577, 416, 64, 64});
        ADD_FAILURE();
    } catch (const EngineError& e) {
        EXPECT_EQ(e.category(), 4);
        EXPECT_STREQ(e.what(), "Capture region is outside the selected display");
    }
}

TEST_F(X11Capture, CursorRequestsFollowCapability) {
    const auto display = selectPrimaryDisplay();
    auto plain = create_desktop_capture(display, false, {});
    EXPECT_FALSE(plain->setCursorVisible(true));
    EXPECT_FALSE(plain->cursorVisible());
    EXPECT_TRUE(plain->setCursorVisible(false));
    auto drawing = create_desktop_capture(display, true, {});
    EXPECT_TRUE(drawing->cursorSupported());
    EXPECT_TRUE(drawing->cursorVisible());
}

// The pointer is blended onto the picture and taken off again without a
// trace: when hidden, when it moves and when the screen under it changes.
TEST_F(X11Capture, DrawnPointerLeavesNoTrace) {
    Painter painter;
    const Window white = painter.window(0, 0, 640, 480, 0xFFFFFF);
    const auto display = selectPrimaryDisplay();
    auto plain = create_desktop_capture(display, false, {});
    auto drawing = create_desktop_capture(display, true, {});
    auto differing = [](const CpuImage& a, const CpuImage& b) {
        size_t n = 0;
        for (uint32_t y = 0; y < a.height; ++y)
            for (uint32_t x = 0; x < a.width * 4; ++x) n += a.row(y)[x] != b.row(y)[x];
        return n;
    };
    ASSERT_GT(differing(*plain->texture(), *drawing->texture()), 0u) << "the pointer is drawn";
    drawing->setCursorVisible(false);
    EXPECT_EQ(differing(*plain->texture(), *drawing->texture()), 0u);
    drawing->setCursorVisible(true);
    const std::vector<uint8_t> drawnBefore(
        drawing->texture()->data(), drawing->texture()->data() + drawing->texture()->byteSize());

    XWarpPointer(painter.d, None, DefaultRootWindow(painter.d), 0, 0, 0, 0, 500, 400);
    XSync(painter.d, False);
    EXPECT_TRUE(drawing->acquireFrame(0).isNew) << "a moved pointer makes a new picture";
    EXPECT_NE(std::memcmp(drawing->texture()->data(), drawnBefore.data(), drawnBefore.size()), 0);
    drawing->setCursorVisible(false);
    EXPECT_EQ(differing(*plain->texture(), *drawing->texture()), 0u) << "no trace at either place";

    drawing->setCursorVisible(true);
    painter.recolour(white, 0x0000FF);
    ASSERT_TRUE(drawing->acquireFrame(1000).isNew);
    ASSERT_TRUE(plain->acquireFrame(1000).isNew);
    EXPECT_EQ(bgr(*drawing->texture(), 100, 100), std::make_tuple(255, 0, 0));
    drawing->setCursorVisible(false);
    EXPECT_EQ(differing(*plain->texture(), *drawing->texture()), 0u);
}

TEST_F(X11Capture, WindowSourceFindsCapturesAndNoticesChanges) {
    Painter painter;
    painter.window(0, 0, 100, 60, 0x0000FF, "small");
    const Window big = painter.window(200, 200, 160, 120, 0xFF0000, "big");
    const Window titled = painter.window(10, 300, 80, 40, 0x00FF00, "Editor");

    EXPECT_EQ(find_process_window(uint32_t(getpid())), big) << "largest window of the process";
    char self[4096] = {};
    ASSERT_GT(readlink("/proc/self/exe", self, sizeof self - 1), 0);
    std::u16string app(self, self + strlen(self));
    EXPECT_EQ(find_application_window(app, u""), big);
    EXPECT_EQ(find_application_window(app, u"Editor"), titled) << "an exact title wins";
    EXPECT_EQ(find_application_window(u"/usr/bin/none", u""), 0u);

    auto source = create_window_capture(selectPrimaryDisplay(), big, false);
    EXPECT_EQ(source->width(), 160u);
    ASSERT_TRUE(source->acquireFrame(1000).isNew);
    EXPECT_EQ(bgr(*source->texture(), 80, 60), std::make_tuple(0, 0, 255));

    XResizeWindow(painter.d, big, 200, 120);
    XSync(painter.d, False);
    usleep(100000);
    try {
        for (int i = 0; i < 10; ++i) source->acquireFrame(50);
        ADD_FAILURE() << "a resized window ends the source";
    } catch (const EngineError& e) {
        EXPECT_EQ(e.category(), 0);
        EXPECT_STREQ(e.what(), "Window size changed; receiver must reconnect the stream");
    }

    auto second = create_window_capture(selectPrimaryDisplay(), titled, false);
    XDestroyWindow(painter.d, titled);
    XSync(painter.d, False);
    usleep(100000);
    try {
        for (int i = 0; i < 10; ++i) second->acquireFrame(50);
        ADD_FAILURE() << "a closed window ends the source";
    } catch (const EngineError& e) {
        EXPECT_STREQ(e.what(), "Captured window was closed");
    }
}

}  // namespace
}  // namespace zel
