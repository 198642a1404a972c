#pragma once

#include <cstdint>
#include <vector>

namespace zel {

// One Opus packet of 10 ms, as handed from the audio worker to the session.
struct EncodedAudioFrame {
    std::vector<uint8_t> data;
    uint32_t sequence = 0;    // 0 for the first packet of a worker run, +1 per packet
    int64_t timestampUs = 0;  // engine steady clock; consecutive packets are 10 000 us apart
    uint32_t samples = 480;   // per channel
};

}  // namespace zel
