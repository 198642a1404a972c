#pragma once

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "base/fs.h"
#include "base/process.h"

namespace zel {

// A program built next to the running test program.
inline std::filesystem::path sibling_binary(const std::string& name) {
    auto p = executable_path().parent_path() / name;
#ifdef _WIN32
    p += ".exe";
#endif
    return p;
}

inline std::filesystem::path engine_binary() { return sibling_binary("zel-engine-host"); }

// Polls until pred() holds or timeoutMs passes; the last result of pred().
template <typename Pred>
bool eventually(Pred pred, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!pred()) {
        if (std::chrono::steady_clock::now() >= deadline) return pred();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

// A running engine that is killed when the object goes away.
class EngineProcess {
public:
    bool start(const std::vector<std::string>& args, const std::filesystem::path& workDir = {}) {
        ChildProcess::Options options;
        options.captureOutput = true;
        options.workingDirectory = workDir;
        return child_.start(engine_binary(), args, options);
    }
    // True once the engine printed its listening line (and still runs).
    bool waitListening(int timeoutMs = 30000) {
        return eventually(
            [&] {
                return child_.standardOutput().find("ZEL Engine listening on 48300") !=
                           std::string::npos ||
                       !child_.running();
            },
            timeoutMs) &&
               child_.running();
    }
    ChildProcess& child() { return child_; }
    ~EngineProcess() { child_.kill(); }

private:
    ChildProcess child_;
};

}  // namespace zel
