#include "engine/audio/frame_converter.h"

#include <gtest/gtest.h>

#include <cstring>

#include "base/engine_error.h"

namespace zel {
namespace {

DeviceFormat float_format(uint16_t channels, uint32_t mask) {
    return {48000, channels, 32, static_cast<uint16_t>(channels * 4), mask, SampleEncoding::Float};
}

DeviceFormat int_format(uint16_t channels, uint16_t bits) {
    return {48000, channels,
            bits,  static_cast<uint16_t>(channels * bits / 8),
            0,     SampleEncoding::Integer};
}

std::vector<uint8_t> float_frame(const std::vector<float>& samples) {
    std::vector<uint8_t> bytes(samples.size() * 4);
    std::memcpy(bytes.data(), samples.data(), bytes.size());
    return bytes;
}

TEST(FrameConverter, FoldsAndReordersSpeakerLayouts) {
    constexpr uint32_t k71 = 0x63F;      // FL FR FC LFE BL BR SL SR
    constexpr uint32_t k51Side = 0x60F;  // FL FR FC LFE SL SR
    constexpr uint32_t k51Back = 0x3F;   // FL FR FC LFE BL BR
    const float fl = 0.1f, fr = 0.2f, fc = 0.3f, lfe = 0.4f, bl = 0.05f, br = 0.06f, sl = 0.07f,
                sr = 0.08f;
    const auto frame71 = float_frame({fl, fr, fc, lfe, bl, br, sl, sr});
    struct Case {
        const char* what;
        DeviceFormat format;
        int outputs;
        std::vector<uint8_t> frame;
        float gain;
        std::vector<float> want;
    } cases[] = {
        {"mono feeds both sides",
         float_format(1, 0),
         2,
         float_frame({0.25f}),
         1.0f,
         {0.25f, 0.25f}},
        {"mono declared as front left",
         float_format(1, 0x1),
         2,
         float_frame({0.25f}),
         1.0f,
         {0.25f, 0.25f}},
        {"7.1 folds to stereo",
         float_format(8, k71),
         2,
         frame71,
         0.5f,
         {((sl + bl) * 0.7071f + fc * 0.7071f + fl + lfe * 0.25f) * 0.5f,
          ((sr + br) * 0.7071f + fc * 0.7071f + fr + lfe * 0.25f) * 0.5f}},
        {"7.1 fold clips",
         float_format(8, k71),
         2,
         float_frame({1, -1, 0.5f, 1, 1, -1, 1, -1}),
         1.0f,
         {1.0f, -1.0f}},
        {"7.1 keeps its channels",
         float_format(8, k71),
         8,
         frame71,
         1.0f,
         {fl, fc, fr, sl, sr, bl, br, lfe}},
        {"7.1 to 5.1 prefers the back pair",
         float_format(8, k71),
         6,
         frame71,
         1.0f,
         {fl, fc, fr, bl, br, lfe}},
        {"5.1 side fills the rear pair",
         float_format(6, k51Side),
         6,
         float_frame({fl, fr, fc, lfe, sl, sr}),
         1.0f,
         {fl, fc, fr, sl, sr, lfe}},
        {"5.1 back",
         float_format(6, k51Back),
         6,
         float_frame({fl, fr, fc, lfe, bl, br}),
         2.0f,
         {2 * fl, 2 * fc, 2 * fr, 2 * bl, 2 * br, 2 * lfe}},
        {"5.1 to 7.1 leaves the sides empty",
         float_format(6, k51Back),
         8,
         float_frame({fl, fr, fc, lfe, bl, br}),
         1.0f,
         {fl, fc, fr, 0, 0, bl, br, lfe}},
        {"stereo to 7.1",
         float_format(2, 0),
         8,
         float_frame({fl, fr}),
         1.0f,
         {fl, 0, fr, 0, 0, 0, 0, 0}},
        {"mask bit beyond the channel count reads silence",
         float_format(2, 0x7),
         2,
         float_frame({fl, fr}),
         1.0f,
         {fl, fr}},
        {"count without a default mask reads silence",
         float_format(3, 0),
         2,
         float_frame({fl, fr, fc}),
         1.0f,
         {0, 0}},
        {"float clamps before the gain",
         float_format(2, 0),
         8,
         float_frame({1.5f, -3.0f}),
         0.5f,
         {0.5f, 0, -0.5f, 0, 0, 0, 0, 0}},
        {"int16",
         int_format(2, 16),
         8,
         {0x00, 0x40, 0x00, 0x80},
         1.0f,
         {0.5f, 0, -1.0f, 0, 0, 0, 0, 0}},
        {"int24 sign-extends",
         int_format(2, 24),
         8,
         {0x00, 0x00, 0x40, 0x00, 0x00, 0xE0},
         1.0f,
         {0.5f, 0, -0.25f, 0, 0, 0, 0, 0}},
        {"int32",
         int_format(2, 32),
         8,
         {0, 0, 0, 0x20, 0, 0, 0, 0x80},
         1.0f,
         {0.25f, 0, -1.0f, 0, 0, 0, 0, 0}},
        {"padded frames use the block alignment",
         {48000, 2, 16, 8, 0, SampleEncoding::Integer},
         8,
         {0x00, 0x40, 0x00, 0xC0, 0xFF, 0x7F, 0xFF, 0x7F},
         1.0f,
         {0.5f, 0, -0.5f, 0, 0, 0, 0, 0}},
    };
    for (const auto& c : cases) {
        FrameConverter converter(c.format, c.outputs);
        std::vector<float> out;
        converter.append(c.frame.data(), 1, c.gain, out);
        ASSERT_EQ(out.size(), c.want.size()) << c.what;
        for (size_t i = 0; i < c.want.size(); ++i) {
            EXPECT_NEAR(out[i], c.want[i], 1e-6) << c.what << " [" << i << "]";
        }
    }
}

TEST(FrameConverter, UnreadableSampleTypesAreRefused) {
    const DeviceFormat formats[] = {
        int_format(2, 8),
        {48000, 2, 64, 16, 0, SampleEncoding::Float},
    };
    for (const auto& format : formats) {
        FrameConverter converter(format, 2);
        std::vector<uint8_t> frame(format.blockAlign, 0);
        std::vector<float> out;
        try {
            converter.append(frame.data(), 1, 1.0f, out);
            ADD_FAILURE() << format.bitsPerSample << "-bit samples were read";
        } catch (const EngineError& e) {
            EXPECT_EQ(e.category(), 4);
            EXPECT_STREQ(e.what(), "Unsupported Windows audio sample format");
        }
    }
}

TEST(DeviceFormat, WindowsMixFormatsAreClassified) {
    auto fields = [](uint16_t tag, uint16_t cbSize, uint8_t subtypeFirstByte, uint32_t mask) {
        WaveFormatFields f;
        f.formatTag = tag;
        f.channels = 2;
        f.samplesPerSec = 44100;
        f.bitsPerSample = 32;
        f.blockAlign = 8;
        f.extensionSize = cbSize;
        f.channelMask = mask;
        const uint8_t tail[15] = {0, 0, 0, 0, 0, 0x10, 0, 0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71};
        f.subFormat[0] = subtypeFirstByte;
        std::memcpy(f.subFormat + 1, tail, 15);
        return f;
    };
    struct Case {
        const char* what;
        WaveFormatFields fields;
        SampleEncoding encoding;
        uint32_t mask;
    } cases[] = {
        {"plain float", fields(kWaveFormatIeeeFloat, 0, 0, 0), SampleEncoding::Float, 0},
        {"plain PCM", fields(kWaveFormatPcm, 0, 0, 0), SampleEncoding::Integer, 0},
        {"extensible float", fields(kWaveFormatExtensible, 22, 3, 0x3), SampleEncoding::Float, 0x3},
        {"extensible PCM", fields(kWaveFormatExtensible, 22, 1, 0x63F), SampleEncoding::Integer,
         0x63F},
        {"extensible with a short extension", fields(kWaveFormatExtensible, 21, 3, 0x3),
         SampleEncoding::Other, 0},
        {"extensible with another sub-format", fields(kWaveFormatExtensible, 22, 2, 0x3),
         SampleEncoding::Other, 0x3},
        {"other tag", fields(0x55, 0, 0, 0), SampleEncoding::Other, 0},
    };
    for (const auto& c : cases) {
        const DeviceFormat d = device_format_from_wave_format(c.fields);
        EXPECT_EQ(d.encoding, c.encoding) << c.what;
        EXPECT_EQ(d.channelMask, c.mask) << c.what;
        EXPECT_EQ(d.sampleRate, 44100u) << c.what;
        EXPECT_EQ(d.blockAlign, 8) << c.what;
    }
}

TEST(DeviceFormat, SpeakerMaskComesFromTheFormatOrTheChannelCount) {
    const std::pair<DeviceFormat, uint32_t> cases[] = {
        {float_format(1, 0), 0x4},   {float_format(2, 0), 0x3}, {float_format(6, 0), 0x3F},
        {float_format(8, 0), 0x63F}, {float_format(4, 0), 0},   {float_format(2, 0x600), 0x600},
    };
    for (const auto& [format, mask] : cases)
        EXPECT_EQ(device_speaker_mask(format), mask) << format.channels;
}

}  // namespace
}  // namespace zel
