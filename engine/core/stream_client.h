#pragma once

#include "base/net.h"
#include "engine/core/engine_settings.h"

namespace zel {

struct StreamClientResult {
    bool testImpairmentApplied = false;  // the test impairment started in this session
    bool endedByReceiver = false;        // the receiver asked to end the session
};

// Runs one receiver session on an accepted connection, from the handshake to
// its end. Throws EngineError when the session fails. The socket stays owned
// by the caller, which closes it afterwards.
StreamClientResult stream_client(net::Socket& socket, const EngineSettings& settings);

}  // namespace zel
