// The CPU H.264 backend: what every encoder must do, checked by decoding its
// output with libavcodec.
#include <gtest/gtest.h>

#include <algorithm>

extern "C" {
#include <libavcodec/avcodec.h>
}

#include "base/engine_error.h"
#include "engine/video/encoder_selection.h"
#include "engine/video/linux/x264_encoder.h"

namespace zel {
namespace {

// NAL unit types found after Annex-B start codes.
std::vector<int> nal_types(const std::vector<uint8_t>& au) {
    std::vector<int> types;
    for (size_t i = 0; i + 3 < au.size(); ++i) {
        if (au[i] == 0 && au[i + 1] == 0 && au[i + 2] == 1) {
            types.push_back(au[i + 3] & 0x1F);
            i += 2;
        }
    }
    return types;
}

bool contains(const std::vector<int>& v, int x) { return std::find(v.begin(), v.end(), x) != v.end(); }

struct Decoder {
    Decoder() {
        ctx = avcodec_alloc_context3(avcodec_find_decoder(AV_CODEC_ID_H264));
        avcodec_open2(ctx, avcodec_find_decoder(AV_CODEC_ID_H264), nullptr);
        frame = av_frame_alloc();
        packet = av_packet_alloc();
    }
    ~Decoder() {
        av_packet_free(&packet);
        av_frame_free(&frame);
        avcodec_free_context(&ctx);
    }
    // Decodes one access unit; true when a picture came out.
    bool decode(const std::vector<uint8_t>& au) {
        packet->data = const_cast<uint8_t*>(au.data());
        packet->size = int(au.size());
        if (avcodec_send_packet(ctx, packet) < 0) return false;
        return avcodec_receive_frame(ctx, frame) == 0;
    }
    AVCodecContext* ctx;
    AVFrame* frame;
    AVPacket* packet;
};

CpuImage bgra(uint32_t w, uint32_t h, uint8_t b, uint8_t g, uint8_t r) {
    CpuImage im;
    im.width = w;
    im.height = h;
    im.stride = w * 4;
    im.planeHeight = h;
    im.pixels.resize(size_t(w) * h * 4);
    for (size_t i = 0; i < im.pixels.size(); i += 4) {
        im.pixels[i] = b;
        im.pixels[i + 1] = g;
        im.pixels[i + 2] = r;
        im.pixels[i + 3] = 255;
    }
    return im;
}

EncoderSettings settings(uint32_t w, uint32_t h) {
    EncoderSettings s;
    s.width = w;
    s.height = h;
    s.fps = 60;
    s.bitrate = 4'000'000;
    return s;
}

TEST(X264Encoder, KeyFramesBitrateAndDecodedPictures) {
    CpuImage picture = bgra(320, 240, 255, 255, 255);
    CpuDevice device;
    X264Encoder encoder(&device, &picture, settings(320, 240));
    EXPECT_EQ(encoder.info().backendName, "CPU H.264 (x264)");
    EXPECT_EQ(encoder.info().bitstreamFormat, "H.264 Annex-B");
    EXPECT_EQ(encoder.info().codecId, kCodecH264);

    Decoder decoder;
    const CapturedFrame frame{&picture, 1234, true};
    const EncodedVideoFrame first = encoder.encode(frame, 0, true);
    ASSERT_TRUE(first.hasOutput);
    EXPECT_TRUE(first.keyFrame);
    EXPECT_EQ(first.sequence, 0u);
    EXPECT_EQ(first.timestampUs, 1234u);
    const auto types = nal_types(first.data);
    EXPECT_TRUE(contains(types, 7) && contains(types, 8) && contains(types, 5)) << "SPS, PPS, IDR";
    ASSERT_TRUE(decoder.decode(first.data));
    EXPECT_EQ(decoder.frame->width, 320);
    // White is studio-range Y 235 after the round trip (give or take coding).
    EXPECT_NEAR(decoder.frame->data[0][120 * decoder.frame->linesize[0] + 160], 235, 3);
    EXPECT_EQ(decoder.ctx->color_range, AVCOL_RANGE_MPEG);
    EXPECT_EQ(decoder.ctx->colorspace, AVCOL_SPC_BT709);

    for (uint32_t seq = 1; seq < 10; ++seq) {
        const auto p = encoder.encode(frame, seq, false);
        ASSERT_TRUE(p.hasOutput) << "zero latency: one access unit per picture";
        EXPECT_FALSE(p.keyFrame);
        EXPECT_FALSE(contains(nal_types(p.data), 5));
        EXPECT_TRUE(decoder.decode(p.data));
    }
    EXPECT_TRUE(encoder.setBitrate(4'000'000)) << "an unchanged rate is accepted";
    EXPECT_TRUE(encoder.setBitrate(2'000'000));
    const auto forced = encoder.encode(frame, 10, true);
    EXPECT_TRUE(forced.keyFrame);
    const auto forcedTypes = nal_types(forced.data);
    EXPECT_TRUE(contains(forcedTypes, 7) && contains(forcedTypes, 5)) << "IDR with parameter sets";
    EXPECT_TRUE(decoder.decode(forced.data));
}

TEST(X264Encoder, RefusesForeignTexturesAndBadSizes) {
    CpuImage picture = bgra(64, 64, 0, 0, 0);
    CpuImage other = picture;
    CpuDevice device;
    X264Encoder encoder(&device, &picture, settings(64, 64));
    try {
        encoder.encode({&other, 0, true}, 0, false);
        ADD_FAILURE();
    } catch (const EngineError& e) {
        EXPECT_EQ(e.category(), 4);
    }
    CpuImage odd = bgra(63, 64, 0, 0, 0);
    EXPECT_THROW(X264Encoder(&device, &odd, settings(63, 64)), EngineError);
}

TEST(X264Encoder, SelectedAsTheCpuKindOnLinux) {
    CpuImage picture = bgra(128, 72, 0, 0, 0);
    CpuDevice device;
    auto encoder = createVideoEncoder(&device, &picture, settings(128, 72), 0);
    EXPECT_EQ(encoder->info().backendName, "CPU H.264 (x264)");
    EncoderSettings hevc = settings(128, 72);
    hevc.preferHevc = hevc.requireHevc = true;
    try {
        createVideoEncoder(&device, &picture, hevc, 0);
        ADD_FAILURE();
    } catch (const EngineError& e) {
        EXPECT_STREQ(e.what(),
                     "Receiver requires HEVC for this profile; hardware HEVC: Hardware HEVC encoding "
                     "is not available on this platform");
    }
}

}  // namespace
}  // namespace zel
