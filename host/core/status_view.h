#pragma once

#include <string>
#include <string_view>

namespace zel {

// What the window knows at a status poll that the status file does not.
struct PollContext {
    bool receiverTestRunning = false;
    // Shortly after a start request a "ready" engine is expected; the display
    // keeps its "starting" texts instead of flashing "active".
    bool startGracePeriod = false;
};

// The status display derived from one read of the engine's status file.
struct StatusView {
    bool update = false;     // false: keep the previous display unchanged
    std::string state;       // the file's "state"
    std::string header;      // e.g. "ZEL ENGINE ACTIVE"
    std::string detail;      // the line under it
    bool streaming = false;  // the window disables its stream-setting controls
    // Non-empty: a running receiver test ends with this failure text.
    std::string receiverTestFailure;
};

StatusView status_view(std::string_view statusJson, const PollContext& context);

// The one-line summary of a "streaming" status.
std::string streaming_detail(std::string_view statusJson);

}  // namespace zel
