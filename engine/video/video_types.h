#pragma once

#include <cstdint>
#include <vector>

namespace zel {

// One access unit produced by an encoder, in Annex-B form (start codes).
struct EncodedVideoFrame {
    std::vector<uint8_t> data;
    uint32_t sequence = 0;     // the session frame counter passed to encode with this picture
    uint64_t timestampUs = 0;  // capture time of that picture on the engine's steady clock
    bool keyFrame = false;
    bool hasOutput = false;  // false: the call produced nothing and the other fields mean nothing
};

}  // namespace zel
