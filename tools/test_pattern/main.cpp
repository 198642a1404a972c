// zel-test-pattern: fills an X11 screen with a known picture for capture
// tests, demos and benchmarks. The screen is split into four quadrants
// (red, green, blue, white from the top left, clockwise); with --fps a box
// bounces across it and a bar sweeps it, so every frame differs.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

namespace {

volatile std::sig_atomic_t stopRequested = 0;

void on_signal(int) { stopRequested = 1; }

unsigned long rgb(int r, int g, int b) { return (unsigned long)(r << 16 | g << 8 | b); }

int usage() {
    std::fprintf(stderr,
                 "usage: zel-test-pattern [--fps N] [--seconds S]\n"
                 "  Covers $DISPLAY's screen with four colour quadrants (red, green top;\n"
                 "  blue, white bottom). --fps N animates a box and a bar N times a second;\n"
                 "  --seconds S exits after S seconds (default: until stopped).\n");
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    int fps = 0;
    double seconds = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--fps" && i + 1 < argc) {
            fps = std::atoi(argv[++i]);
            if (fps < 0 || fps > 1000) return usage();
        } else if (a == "--seconds" && i + 1 < argc) {
            seconds = std::atof(argv[++i]);
        } else {
            return usage();
        }
    }
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        std::fprintf(stderr, "zel-test-pattern: cannot open the X display\n");
        return 2;
    }
    std::signal(SIGINT, on_signal);
    std::signal(SIGTERM, on_signal);

    const int screen = DefaultScreen(display);
    const int width = DisplayWidth(display, screen), height = DisplayHeight(display, screen);
    XSetWindowAttributes attributes{};
    attributes.override_redirect = True;
    attributes.background_pixel = 0;
    const Window window = XCreateWindow(
        display, RootWindow(display, screen), 0, 0, unsigned(width), unsigned(height), 0,
        CopyFromParent, InputOutput, CopyFromParent, CWOverrideRedirect | CWBackPixel, &attributes);
    XSelectInput(display, window, ExposureMask);
    XMapRaised(display, window);
    const GC gc = XCreateGC(display, window, 0, nullptr);

    const int halfW = width / 2, halfH = height / 2;
    auto fill = [&](unsigned long colour, int x, int y, int w, int h) {
        XSetForeground(display, gc, colour);
        XFillRectangle(display, window, gc, x, y, unsigned(w), unsigned(h));
    };
    auto quadrants = [&] {
        fill(rgb(255, 0, 0), 0, 0, halfW, halfH);
        fill(rgb(0, 255, 0), halfW, 0, width - halfW, halfH);
        fill(rgb(0, 0, 255), 0, halfH, halfW, height - halfH);
        fill(rgb(255, 255, 255), halfW, halfH, width - halfW, height - halfH);
    };
    quadrants();
    XSync(display, False);
    std::printf("pattern %dx%d\n", width, height);
    std::fflush(stdout);

    const auto start = std::chrono::steady_clock::now();
    const int boxW = width / 4, boxH = height / 4, barW = 8;
    int frame = 0, boxX = 0, boxY = 0, dx = 7, dy = 5;
    auto next = start;
    while (!stopRequested) {
        while (XPending(display)) {
            XEvent event;
            XNextEvent(display, &event);
            if (event.type == Expose && event.xexpose.count == 0) quadrants();
        }
        const auto now = std::chrono::steady_clock::now();
        if (seconds > 0 && now - start >= std::chrono::duration<double>(seconds)) break;
        if (fps == 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            continue;
        }
        // The whole picture is drawn again every frame, as a playing video would.
        quadrants();
        boxX += dx;
        boxY += dy;
        if (boxX < 0 || boxX + boxW > width) dx = -dx, boxX += 2 * dx;
        if (boxY < 0 || boxY + boxH > height) dy = -dy, boxY += 2 * dy;
        fill(rgb((frame * 5) & 255, (frame * 3) & 255, 128), boxX, boxY, boxW, boxH);
        fill(rgb(255, 255, 0), (frame * 16) % width, 0, barW, height);
        XFlush(display);
        ++frame;
        next += std::chrono::nanoseconds(1'000'000'000 / fps);
        if (next < now) next = now;
        std::this_thread::sleep_until(next);
    }
    XFreeGC(display, gc);
    XDestroyWindow(display, window);
    XCloseDisplay(display);
    return 0;
}
