#include "engine/audio/device_format.h"

#include <cstring>

namespace zel {

uint32_t device_speaker_mask(const DeviceFormat& format) {
    if (format.channelMask != 0) return format.channelMask;
    switch (format.channels) {
        case 1:
            return 0x4;
        case 2:
            return 0x3;
        case 6:
            return 0x3F;
        case 8:
            return 0x63F;
        default:
            return 0;
    }
}

namespace {

// KSDATAFORMAT_SUBTYPE_PCM / _IEEE_FLOAT share everything but the first byte.
constexpr uint8_t kSubtypeTail[15] = {0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                      0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

bool is_subtype(const uint8_t (&guid)[16], uint8_t first) {
    return guid[0] == first && std::memcmp(guid + 1, kSubtypeTail, sizeof kSubtypeTail) == 0;
}

}  // namespace

DeviceFormat device_format_from_wave_format(const WaveFormatFields& f) {
    DeviceFormat d;
    d.sampleRate = f.samplesPerSec;
    d.channels = f.channels;
    d.bitsPerSample = f.bitsPerSample;
    d.blockAlign = f.blockAlign;
    const bool extensible = f.formatTag == kWaveFormatExtensible && f.extensionSize >= 22;
    if (extensible) d.channelMask = f.channelMask;
    if (f.formatTag == kWaveFormatIeeeFloat || (extensible && is_subtype(f.subFormat, 3))) {
        d.encoding = SampleEncoding::Float;
    } else if (f.formatTag == kWaveFormatPcm || (extensible && is_subtype(f.subFormat, 1))) {
        d.encoding = SampleEncoding::Integer;
    } else {
        d.encoding = SampleEncoding::Other;
    }
    return d;
}

}  // namespace zel
