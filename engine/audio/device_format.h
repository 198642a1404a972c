#pragma once

#include <cstdint>

namespace zel {

// Speaker bits of a device's channel mask (the WAVEFORMATEXTENSIBLE values).
// Device channels appear in the order of their bits.
inline constexpr uint32_t kSpeakerFrontLeft = 0x1;
inline constexpr uint32_t kSpeakerFrontRight = 0x2;
inline constexpr uint32_t kSpeakerFrontCenter = 0x4;
inline constexpr uint32_t kSpeakerLfe = 0x8;
inline constexpr uint32_t kSpeakerBackLeft = 0x10;
inline constexpr uint32_t kSpeakerBackRight = 0x20;
inline constexpr uint32_t kSpeakerSideLeft = 0x200;
inline constexpr uint32_t kSpeakerSideRight = 0x400;

enum class SampleEncoding {
    Float,    // IEEE float
    Integer,  // signed little-endian PCM
    Other,    // neither: the device cannot be captured
};

// How the capture device delivers its frames.
struct DeviceFormat {
    uint32_t sampleRate = 0;
    uint16_t channels = 0;
    uint16_t bitsPerSample = 0;
    uint16_t blockAlign = 0;   // bytes per frame, padding included
    uint32_t channelMask = 0;  // 0: none given, the channel count decides
    SampleEncoding encoding = SampleEncoding::Other;
};

// The device's speakers: its own mask when it has one, else the usual mask
// for its channel count (mono is front centre); 0 for counts without one,
// which makes every channel read as silence.
uint32_t device_speaker_mask(const DeviceFormat& format);

// The fields of a Windows WAVEFORMATEX / WAVEFORMATEXTENSIBLE that decide the
// format, copied out so the decision is plain code.
struct WaveFormatFields {
    uint16_t formatTag = 0;
    uint16_t channels = 0;
    uint32_t samplesPerSec = 0;
    uint16_t blockAlign = 0;
    uint16_t bitsPerSample = 0;
    uint16_t extensionSize = 0;  // cbSize
    // Extensible part, meaningful when extensionSize >= 22.
    uint32_t channelMask = 0;
    uint8_t subFormat[16] = {};  // GUID in memory order
};

inline constexpr uint16_t kWaveFormatPcm = 1;
inline constexpr uint16_t kWaveFormatIeeeFloat = 3;
inline constexpr uint16_t kWaveFormatExtensible = 0xFFFE;

// Classifies a Windows mix format. encoding is Other when it is neither
// float nor PCM.
DeviceFormat device_format_from_wave_format(const WaveFormatFields& fields);

}  // namespace zel
