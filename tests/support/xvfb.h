#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>

#include "base/process.h"
#include "tests/support/engine_process.h"

namespace zel {

// A private Xvfb server on a free display number; DISPLAY points at it while
// the object lives. ok() is false when Xvfb is not installed or did not start.
class XvfbServer {
public:
    explicit XvfbServer(const std::string& size = "640x480x24") {
        for (int n = 150; n < 250; ++n) {
            if (std::filesystem::exists("/tmp/.X11-unix/X" + std::to_string(n)) ||
                std::filesystem::exists("/tmp/.X" + std::to_string(n) + "-lock")) {
                continue;
            }
            display_ = ":" + std::to_string(n);
            ChildProcess::Options options;
            if (!server_.start("/usr/bin/Xvfb", {display_, "-screen", "0", size, "-nolisten", "tcp"},
                               options)) {
                return;
            }
            ok_ = eventually(
                [&] { return std::filesystem::exists("/tmp/.X11-unix/X" + std::to_string(n)); }, 10000);
            if (ok_) {
                const char* old = std::getenv("DISPLAY");
                if (old) previous_ = old;
                hadPrevious_ = old != nullptr;
                setenv("DISPLAY", display_.c_str(), 1);
            }
            return;
        }
    }
    ~XvfbServer() {
        server_.kill();
        if (hadPrevious_) setenv("DISPLAY", previous_.c_str(), 1);
        else unsetenv("DISPLAY");
    }
    bool ok() const { return ok_; }
    const std::string& display() const { return display_; }

private:
    ChildProcess server_;
    std::string display_;
    std::string previous_;
    bool hadPrevious_ = false;
    bool ok_ = false;
};

}  // namespace zel
