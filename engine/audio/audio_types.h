#pragma once

#include <cstdint>
#include <vector>

namespace zel {

// One Opus packet of 10 ms.
struct EncodedAudioFrame {
    std::vector<uint8_t> data;
    uint32_t sequence = 0;     // from 0 per capture run
    uint64_t timestampUs = 0;  // engine steady clock, +10 000 per packet
    uint32_t samples = 480;    // per channel
};

}  // namespace zel
