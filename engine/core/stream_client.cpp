#include "engine/core/stream_client.h"

namespace zel {

// The streaming session is not part of this build yet: a connection ends at
// once, as if the receiver had disconnected, and the engine keeps listening.
StreamClientResult stream_client(net::Socket&, const EngineSettings&) { return {}; }

}  // namespace zel
