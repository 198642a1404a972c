#include "engine/audio/opus_audio_encoder.h"

#include <opus.h>
#include <opus_multistream.h>

#include <string>

#include "base/engine_error.h"
#include "engine/audio/encoded_audio_frame.h"

namespace zel {

namespace {

constexpr int kMaxPacketBytes = 1100;

int bitrate_for(int channels) {
    if (channels == 2) return 160000;
    if (channels == 6) return 384000;
    return 512000;
}

}  // namespace

OpusAudioEncoder::OpusAudioEncoder(int channels) : channels_(channels) {
    int error = OPUS_OK;
    if (channels == 2) {
        stereoEncoder_ =
            opus_encoder_create(kAudioSampleRate, 2, OPUS_APPLICATION_RESTRICTED_LOWDELAY, &error);
    } else {
        mapping_.assign(static_cast<size_t>(channels > 0 ? channels : 0), 0);
        surroundEncoder_ = opus_multistream_surround_encoder_create(
            kAudioSampleRate, channels, 1, &streams_, &coupledStreams_, mapping_.data(),
            OPUS_APPLICATION_RESTRICTED_LOWDELAY, &error);
    }
    if ((stereoEncoder_ == nullptr && surroundEncoder_ == nullptr) || error != OPUS_OK) {
        opus_encoder_destroy(stereoEncoder_);
        opus_multistream_encoder_destroy(surroundEncoder_);
        stereoEncoder_ = nullptr;
        surroundEncoder_ = nullptr;
        throw EngineError(2, "Unable to create Opus encoder");
    }

    const int bitrate = bitrate_for(channels);
    bool configured;
    if (stereoEncoder_ != nullptr) {
        configured =
            opus_encoder_ctl(stereoEncoder_, OPUS_SET_BITRATE(bitrate)) == OPUS_OK &&
            opus_encoder_ctl(stereoEncoder_, OPUS_SET_COMPLEXITY(5)) == OPUS_OK &&
            opus_encoder_ctl(stereoEncoder_, OPUS_SET_VBR(0)) == OPUS_OK &&
            opus_encoder_ctl(stereoEncoder_, OPUS_SET_SIGNAL(OPUS_SIGNAL_MUSIC)) == OPUS_OK;
    } else {
        configured =
            opus_multistream_encoder_ctl(surroundEncoder_, OPUS_SET_BITRATE(bitrate)) == OPUS_OK &&
            opus_multistream_encoder_ctl(surroundEncoder_, OPUS_SET_COMPLEXITY(5)) == OPUS_OK &&
            opus_multistream_encoder_ctl(surroundEncoder_, OPUS_SET_VBR(0)) == OPUS_OK;
    }
    if (!configured) {
        opus_encoder_destroy(stereoEncoder_);
        opus_multistream_encoder_destroy(surroundEncoder_);
        stereoEncoder_ = nullptr;
        surroundEncoder_ = nullptr;
        throw EngineError(2, "Unable to configure Opus encoder");
    }
}

OpusAudioEncoder::~OpusAudioEncoder() {
    opus_encoder_destroy(stereoEncoder_);
    opus_multistream_encoder_destroy(surroundEncoder_);
}

std::vector<uint8_t> OpusAudioEncoder::encodeBlock(const float* interleaved) {
    std::vector<uint8_t> packet(kMaxPacketBytes, 0);
    const int n =
        stereoEncoder_ != nullptr
            ? opus_encode_float(stereoEncoder_, interleaved, kAudioBlockFrames, packet.data(),
                                kMaxPacketBytes)
            : opus_multistream_encode_float(surroundEncoder_, interleaved, kAudioBlockFrames,
                                            packet.data(), kMaxPacketBytes);
    if (n < 0) throw EngineError(2, "Opus encoding failed: " + std::to_string(n));
    packet.resize(static_cast<size_t>(n));
    return packet;
}

}  // namespace zel
