#include "engine/video/encoder_selection.h"

namespace zel {

// The Windows encoder backends plug in here as they arrive; until then every
// attempt reports its backend as unavailable.
EncoderBackends platform_encoder_backends() { return {}; }

}  // namespace zel
