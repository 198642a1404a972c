#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/video/capture_region.h"
#include "engine/video/platform_video.h"

namespace zel {

// One picture of a capture source.
struct CapturedFrame {
    VideoTexture* texture = nullptr;  // the source's own texture, not owned
    uint64_t timestampUs = 0;         // steady clock when the source returned
    bool isNew = false;               // false: nothing changed within the timeout
};

// One access unit out of an encoder.
struct EncodedVideoFrame {
    std::vector<uint8_t> data;  // Annex-B (start codes)
    uint32_t sequence = 0;      // the frame counter passed to encode with that picture
    uint64_t timestampUs = 0;   // the picture's capture timestamp
    bool keyFrame = false;
    bool hasOutput = false;  // false: no access unit this call
};

struct EncoderInfo {
    std::string backendName;
    std::string bitstreamFormat;  // "H.264 Annex-B" or "HEVC Annex-B"
    uint8_t codecId = 2;          // 2 = H.264, 3 = HEVC
};

struct EncoderSettings {
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t fps = 60;
    uint32_t bitrate = 20'000'000;
    uint8_t visualProfile = 7;  // 1..7 = "A".."G"
    bool preferHevc = false;
    bool requireHevc = false;
};

inline constexpr uint8_t kCodecH264 = 2;
inline constexpr uint8_t kCodecHevc = 3;

// Encoder backend kinds; the value is the order used by the selection.
enum class EncoderBackendKind : int {
    Nvenc = 0,
    Amf = 1,
    Vpl = 2,
    LegacyMfx = 3,
    LegacyGpuH264 = 4,
    CpuSoftwareH264 = 5,
};
const char* encoder_backend_display_name(int kind);

class VideoCaptureSource {
public:
    virtual ~VideoCaptureSource() = default;
    // Waits at most timeoutMs for a new picture. Throws EngineError when the
    // source is lost or its size changed.
    virtual CapturedFrame acquireFrame(uint32_t timeoutMs) = 0;
    virtual VideoDevice* device() = 0;
    // The fixed BGRA output texture, the same object for the source's life.
    virtual VideoTexture* texture() = 0;
    virtual uint32_t width() = 0;
    virtual uint32_t height() = 0;
    // False when the request cannot be met.
    virtual bool setCursorVisible(bool visible) = 0;
    virtual bool cursorVisible() = 0;
    virtual bool cursorSupported() = 0;
};

class VideoEncoder {
public:
    virtual ~VideoEncoder() = default;
    virtual const EncoderInfo& info() const = 0;
    // frame.texture must be the texture given at construction (else category
    // 4). Runtime failures throw category 2.
    virtual EncodedVideoFrame encode(const CapturedFrame& frame, uint32_t sequence,
                                     bool forceKeyFrame) = 0;
    // True when the new rate is in force (also when unchanged); never throws.
    virtual bool setBitrate(uint32_t bitsPerSecond) = 0;
    virtual void flush() = 0;
};

}  // namespace zel
