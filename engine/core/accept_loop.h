#pragma once

#include <functional>
#include <string>

#include "base/net.h"
#include "engine/core/engine_settings.h"
#include "engine/core/stream_client.h"

namespace zel {

// State and message for the status file after a session threw EngineError:
// a source that changed or went away is "reconnecting", anything else "error".
struct SessionStatus {
    std::string state;
    std::string message;
};
SessionStatus status_after_engine_error(int category, const std::string& message);
SessionStatus status_after_return(const StreamClientResult& result);

using SessionRunner = std::function<StreamClientResult(net::Socket&, const EngineSettings&)>;

// Start-up from COM to the listening socket, then the accept loop. Returns the
// process exit code (only when accept fails, or start-up is refused).
int run_engine(const EngineSettings& settings, const SessionRunner& session = stream_client);

}  // namespace zel
