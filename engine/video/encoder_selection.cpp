#include "engine/video/encoder_selection.h"

#include <string>
#include <vector>

#include "base/engine_error.h"

namespace zel {

namespace {

std::vector<int> h264_order(uint32_t vendorId) {
    switch (vendorId) {
        case kVendorNvidia: return {0, 4, 5};
        case kVendorAmd: return {1, 4, 5};
        case kVendorIntel: return {2, 3, 4, 5};
        default: return {4, 5};
    }
}

[[noreturn]] void missing_backend(int kind) {
    throw EngineError(1, std::string(encoder_backend_display_name(kind)) +
                             " is not available on this platform");
}

std::unique_ptr<VideoEncoder> construct(const EncoderBackends& b, int kind, VideoDevice* device,
                                        VideoTexture* texture, const EncoderSettings& s) {
    const EncoderBackends::Plain* plain = nullptr;
    switch (kind) {
        case 0: plain = &b.nvenc; break;
        case 1: plain = &b.amf; break;
        case 2: plain = &b.vpl; break;
        case 3: plain = &b.legacyMfx; break;
        default: break;
    }
    if (plain) {
        if (!*plain) missing_backend(kind);
        return (*plain)(device, texture, s);
    }
    if (!b.mediaFoundation) missing_backend(kind);
    return b.mediaFoundation(device, texture, s, kind == 4, false);
}

std::string message_of(const EngineError& e) {
    const std::string m = e.what();
    return m.empty() ? "Unknown exception" : m;
}

}  // namespace

std::unique_ptr<VideoEncoder> select_video_encoder(const EncoderBackends& backends,
                                                   VideoDevice* device, VideoTexture* inputTexture,
                                                   const EncoderSettings& settings,
                                                   uint32_t vendorId) {
    std::string attempted;
    std::string failures;

    if (settings.preferHevc) {
        if (vendorId == kVendorNvidia) {
            try {
                if (!backends.nvenc) missing_backend(0);
                return backends.nvenc(device, inputTexture, settings);
            } catch (const EngineError& e) {
                failures += "NVENC HEVC: " + message_of(e) + "; ";
            }
        }
        attempted += "hardware HEVC";
        try {
            if (!backends.mediaFoundation) {
                throw EngineError(1, "Hardware HEVC encoding is not available on this platform");
            }
            return backends.mediaFoundation(device, inputTexture, settings, true, true);
        } catch (const EngineError& e) {
            failures += "hardware HEVC: " + message_of(e);
        }
    }
    if (settings.requireHevc) {
        throw EngineError(1, "Receiver requires HEVC for this profile; " + failures);
    }

    EncoderSettings h264 = settings;
    h264.preferHevc = false;
    for (const int kind : h264_order(vendorId)) {
        if (!attempted.empty()) attempted += ", ";
        attempted += encoder_backend_display_name(kind);
        try {
            return construct(backends, kind, device, inputTexture, h264);
        } catch (const EngineError& e) {
            if (!failures.empty()) failures += "; ";
            failures += std::string(encoder_backend_display_name(kind)) + ": " + message_of(e);
        }
    }
    std::string text = "No compatible encoder is available; attempted: " + attempted;
    if (!failures.empty()) text += ". " + failures;
    throw EngineError(1, text);
}

std::unique_ptr<VideoEncoder> createVideoEncoder(VideoDevice* device, VideoTexture* inputTexture,
                                                 const EncoderSettings& settings, uint32_t vendorId) {
    return select_video_encoder(platform_encoder_backends(), device, inputTexture, settings,
                                vendorId);
}

}  // namespace zel
