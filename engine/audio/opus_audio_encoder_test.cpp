#include "engine/audio/opus_audio_encoder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "base/engine_error.h"
#include "tests/support/opus_decode.h"

namespace zel {
namespace {

// 480 frames with a sine of `hz` in channel `loud` and silence elsewhere.
std::vector<float> tone_block(int channels, int loud, double hz, int block) {
    std::vector<float> pcm(static_cast<size_t>(channels) * 480, 0.0f);
    for (int i = 0; i < 480; ++i) {
        const double t = (block * 480 + i) / 48000.0;
        pcm[static_cast<size_t>(i) * channels + loud] =
            static_cast<float>(0.5 * std::sin(2 * std::numbers::pi * hz * t));
    }
    return pcm;
}

TEST(OpusAudioEncoder, StereoIsConstantBitrateAt160kbps) {
    OpusAudioEncoder encoder(2);
    OpusTestDecoder decoder(2);
    std::vector<float> decoded;
    for (int block = 0; block < 100; ++block) {
        const auto packet = encoder.encodeBlock(tone_block(2, 0, 440, block).data());
        // 160 000 bit/s over 100 packets a second.
        EXPECT_NEAR(static_cast<double>(packet.size()), 200.0, 4.0);
        EXPECT_EQ(decoder.decode(packet, decoded), 480);
    }
    EXPECT_GT(channel_rms(decoded, 2, 0, 4800), 0.3);
    EXPECT_LT(channel_rms(decoded, 2, 1, 4800), 0.03);
}

TEST(OpusAudioEncoder, SurroundUsesFamilyOneLayouts) {
    struct Case {
        int channels;
        int streams;
        int coupled;
        std::vector<uint8_t> mapping;
    } cases[] = {
        {6, 4, 2, {0, 4, 1, 2, 3, 5}},
        {8, 5, 3, {0, 6, 1, 2, 3, 4, 5, 7}},
    };
    for (const auto& c : cases) {
        OpusAudioEncoder encoder(c.channels);
        EXPECT_EQ(encoder.streams(), c.streams) << c.channels;
        EXPECT_EQ(encoder.coupledStreams(), c.coupled) << c.channels;
        EXPECT_EQ(encoder.mapping(), c.mapping) << c.channels;
    }
}

// A receiver decoding 7.1 with the family-1 layout gets every channel back in
// the stream's order: a tone put in one channel comes out of that channel.
TEST(OpusAudioEncoder, SevenOneChannelsDecodeInStreamOrder) {
    for (int loud = 0; loud < 8; ++loud) {
        OpusAudioEncoder encoder(8);
        std::vector<unsigned char> mapping(encoder.mapping().begin(), encoder.mapping().end());
        OpusTestDecoder decoder(8, encoder.streams(), encoder.coupledStreams(), mapping);
        std::vector<float> decoded;
        // Low enough for the band-limited LFE stream.
        for (int block = 0; block < 40; ++block) {
            ASSERT_EQ(
                decoder.decode(encoder.encodeBlock(tone_block(8, loud, 60, block).data()), decoded),
                480);
        }
        const double loudRms = channel_rms(decoded, 8, loud, 4800);
        EXPECT_GT(loudRms, 0.2) << "channel " << loud;
        for (int other = 0; other < 8; ++other) {
            if (other == loud) continue;
            EXPECT_LT(channel_rms(decoded, 8, other, 4800), loudRms / 10) << loud << "->" << other;
        }
    }
}

TEST(OpusAudioEncoder, RefusedLayoutIsACategoryTwoError) {
    try {
        OpusAudioEncoder encoder(9);
        FAIL() << "a 9-channel encoder was created";
    } catch (const EngineError& e) {
        EXPECT_EQ(e.category(), 2);
        EXPECT_STREQ(e.what(), "Unable to create Opus encoder");
    }
}

}  // namespace
}  // namespace zel
