#pragma once

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
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
    // Xvfb chooses a free display number itself and prints it (-displayfd),
    // so servers started at the same time by parallel tests never collide.
    explicit XvfbServer(const std::string& size = "640x480x24") {
        ChildProcess::Options options;
        options.captureOutput = true;
        if (!server_.start("/usr/bin/Xvfb",
                           {"-displayfd", "1", "-noreset", "-screen", "0", size, "-nolisten", "tcp"}, options)) {
            return;
        }
        ok_ = eventually([&] { return server_.standardOutput().find('\n') != std::string::npos; },
                         10000);
        if (!ok_) return;
        std::string number = server_.standardOutput();
        number.erase(number.find('\n'));
        display_ = ":" + number;
        // A server killed earlier may leave its socket behind; wait until this
        // one answers on it.
        const std::string socketPath = "/tmp/.X11-unix/X" + number;
        ok_ = eventually(
            [&] {
                const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
                sockaddr_un address{};
                address.sun_family = AF_UNIX;
                std::snprintf(address.sun_path, sizeof address.sun_path, "%s", socketPath.c_str());
                const bool up = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
                ::close(fd);
                return up;
            },
            10000);
        if (!ok_) return;
        const char* old = std::getenv("DISPLAY");
        if (old) previous_ = old;
        hadPrevious_ = old != nullptr;
        setenv("DISPLAY", display_.c_str(), 1);
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
