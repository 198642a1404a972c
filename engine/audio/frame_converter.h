#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "engine/audio/device_format.h"

namespace zel {

// Converts device frames into the stream's layout (2, 6 or 8 channels, float,
// interleaved) with a gain:
//   2: side and back pairs and the centre at 0.7071, LFE at 0.25, clipped to
//      +-1 (a mono device feeds both sides);
//   6: FL FC FR RL RR LFE, the rear pair taken from the side pair for any
//      sample where the back channel is 0;
//   8: FL FC FR SL SR RL RR LFE.
class FrameConverter {
  public:
    FrameConverter(const DeviceFormat& format, int outputChannels);

    // Appends `frames` converted frames read from `data` (blockAlign bytes
    // each). Throws EngineError category 4 "Unsupported Windows audio sample
    // format" when a present channel has a sample type other than 32-bit
    // float or 16/24/32-bit integer.
    void append(const uint8_t* data, uint32_t frames, float gain, std::vector<float>& out) const;

    // Appends `frames` frames of silence.
    void appendSilence(uint32_t frames, std::vector<float>& out) const;

    int outputChannels() const { return outputChannels_; }

  private:
    enum Speaker { FL, FR, FC, LFE, BL, BR, SL, SR, kSpeakers };
    float read(const uint8_t* frame, Speaker s) const;

    DeviceFormat format_;
    int outputChannels_;
    bool monoDevice_;
    bool readable_;                      // sample type supported
    std::array<int, kSpeakers> offset_;  // byte offset inside a frame; -1: silent
};

}  // namespace zel
