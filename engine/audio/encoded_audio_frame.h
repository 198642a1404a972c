#pragma once

#include <cstdint>
#include <vector>

namespace zel {

// Audio stream constants: 48 kHz, 10 ms blocks, float samples in -1..1.
inline constexpr uint32_t kAudioSampleRate = 48000;
inline constexpr uint32_t kAudioBlockFrames = 480;

// One Opus packet as the capture worker hands it to its sink.
struct EncodedAudioFrame {
    std::vector<uint8_t> data;
    uint32_t sequence = 0;    // 0 for the first packet of a capture run, +1 per packet
    uint64_t timestampUs = 0;  // steady clock; consecutive packets are exactly 10 000 us apart
    uint32_t samples = kAudioBlockFrames;  // per channel
};

}  // namespace zel
