#include <gtest/gtest.h>

#include <algorithm>
#include <new>

#include "base/engine_error.h"
#include "engine/video/encoder_selection.h"

namespace zel {
namespace {

class NamedEncoder : public VideoEncoder {
public:
    explicit NamedEncoder(std::string name, bool hevc) {
        info_.backendName = std::move(name);
        info_.codecId = hevc ? kCodecHevc : kCodecH264;
    }
    const EncoderInfo& info() const override { return info_; }
    EncodedVideoFrame encode(const CapturedFrame&, uint32_t, bool) override { return {}; }
    bool setBitrate(uint32_t) override { return true; }
    void flush() override {}

private:
    EncoderInfo info_;
};

// Backends that fail with "<name> down" unless their name is in `working`.
EncoderBackends backends(std::vector<std::string> working, std::vector<std::string>* calls) {
    auto plain = [=](std::string name) {
        return [=](VideoDevice*, VideoTexture*, const EncoderSettings& s) -> std::unique_ptr<VideoEncoder> {
            calls->push_back(name + (s.preferHevc ? "/hevc" : ""));
            if (std::find(working.begin(), working.end(), name) == working.end()) {
                throw EngineError(1, name + " down");
            }
            return std::make_unique<NamedEncoder>(name, s.preferHevc);
        };
    };
    EncoderBackends b;
    b.nvenc = plain("nvenc");
    b.amf = plain("amf");
    b.vpl = plain("vpl");
    b.legacyMfx = plain("mfx");
    b.mediaFoundation = [=](VideoDevice*, VideoTexture*, const EncoderSettings&, bool hw,
                            bool hevc) -> std::unique_ptr<VideoEncoder> {
        const std::string name = std::string(hw ? "mf-hw" : "mf-sw") + (hevc ? "-hevc" : "");
        calls->push_back(name);
        if (std::find(working.begin(), working.end(), name) == working.end()) {
            throw EngineError(1, name + " down");
        }
        return std::make_unique<NamedEncoder>(name, hevc);
    };
    return b;
}

TEST(EncoderSelection, PicksTheFirstWorkingBackendInVendorOrder) {
    struct Case {
        uint32_t vendor;
        bool preferHevc;
        std::vector<std::string> working;
        std::string chosen;
        std::vector<std::string> calls;
    } cases[] = {
        {kVendorNvidia, false, {"nvenc"}, "nvenc", {"nvenc"}},
        {kVendorNvidia, true, {"nvenc"}, "nvenc", {"nvenc/hevc"}},
        {kVendorAmd, true, {"amf"}, "amf", {"mf-hw-hevc", "amf"}},
        {kVendorIntel, false, {"mfx", "mf-sw"}, "mfx", {"vpl", "mfx"}},
        {0x1AB8, false, {"mf-sw"}, "mf-sw", {"mf-hw", "mf-sw"}},
        {0x1AB8, true, {"mf-hw-hevc"}, "mf-hw-hevc", {"mf-hw-hevc"}},
    };
    for (const auto& c : cases) {
        std::vector<std::string> calls;
        EncoderSettings s;
        s.preferHevc = c.preferHevc;
        auto encoder = select_video_encoder(backends(c.working, &calls), nullptr, nullptr, s, c.vendor);
        ASSERT_TRUE(encoder);
        EXPECT_EQ(encoder->info().backendName, c.chosen);
        EXPECT_EQ(calls, c.calls);
    }
}

TEST(EncoderSelection, FailureTextsNameEveryAttempt) {
    struct Case {
        uint32_t vendor;
        bool preferHevc, requireHevc;
        std::string message;
    } cases[] = {
        {kVendorNvidia, false, false,
         "No compatible encoder is available; attempted: NVIDIA NVENC, legacy GPU H.264, CPU "
         "software H.264. NVIDIA NVENC: nvenc down; legacy GPU H.264: mf-hw down; CPU software "
         "H.264: mf-sw down"},
        {kVendorNvidia, true, true,
         "Receiver requires HEVC for this profile; NVENC HEVC: nvenc down; hardware HEVC: "
         "mf-hw-hevc down"},
        {kVendorIntel, true, false,
         "No compatible encoder is available; attempted: hardware HEVC, Intel oneVPL, Intel Quick "
         "Sync legacy, legacy GPU H.264, CPU software H.264. hardware HEVC: mf-hw-hevc down; Intel "
         "oneVPL: vpl down; Intel Quick Sync legacy: mfx down; legacy GPU H.264: mf-hw down; CPU "
         "software H.264: mf-sw down"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> calls;
        EncoderSettings s;
        s.preferHevc = c.preferHevc;
        s.requireHevc = c.requireHevc;
        try {
            select_video_encoder(backends({}, &calls), nullptr, nullptr, s, c.vendor);
            ADD_FAILURE() << "expected a failure";
        } catch (const EngineError& e) {
            EXPECT_EQ(e.category(), 1);
            EXPECT_EQ(std::string(e.what()), c.message);
        }
    }
}

TEST(EncoderSelection, MissingBackendsAndSeparators) {
    EncoderBackends none;
    try {
        select_video_encoder(none, nullptr, nullptr, EncoderSettings{}, 0);
        ADD_FAILURE();
    } catch (const EngineError& e) {
        EXPECT_EQ(std::string(e.what()),
                  "No compatible encoder is available; attempted: legacy GPU H.264, CPU software "
                  "H.264. legacy GPU H.264: legacy GPU H.264 is not available on this platform; "
                  "CPU software H.264: CPU software H.264 is not available on this platform");
    }
    // One failure: no "; " anywhere.
    std::vector<std::string> calls;
    auto b = backends({}, &calls);
    b.mediaFoundation = [&](VideoDevice*, VideoTexture*, const EncoderSettings&, bool hw,
                            bool) -> std::unique_ptr<VideoEncoder> {
        if (hw) throw EngineError(1, "");
        return std::make_unique<NamedEncoder>("sw", false);
    };
    EXPECT_EQ(select_video_encoder(b, nullptr, nullptr, EncoderSettings{}, 0)->info().backendName, "sw");
    b.mediaFoundation = [&](VideoDevice*, VideoTexture*, const EncoderSettings&, bool hw,
                            bool) -> std::unique_ptr<VideoEncoder> {
        if (hw) throw EngineError(1, "");
        throw std::bad_alloc();
    };
    EXPECT_THROW(select_video_encoder(b, nullptr, nullptr, EncoderSettings{}, 0), std::bad_alloc)
        << "only EngineError is caught";
}

}  // namespace
}  // namespace zel
