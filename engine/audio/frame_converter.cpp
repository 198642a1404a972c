#include "engine/audio/frame_converter.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "base/engine_error.h"

namespace zel {

FrameConverter::FrameConverter(const DeviceFormat& format, int outputChannels)
    : format_(format), outputChannels_(outputChannels), monoDevice_(format.channels == 1) {
    const int bits = format.bitsPerSample;
    readable_ = format.encoding == SampleEncoding::Float
                    ? bits == 32
                    : format.encoding == SampleEncoding::Integer &&
                          (bits == 16 || bits == 24 || bits == 32);
    const uint32_t mask = device_speaker_mask(format);
    const uint32_t bits_of[kSpeakers] = {kSpeakerFrontLeft, kSpeakerFrontRight, kSpeakerFrontCenter,
                                         kSpeakerLfe,       kSpeakerBackLeft,   kSpeakerBackRight,
                                         kSpeakerSideLeft,  kSpeakerSideRight};
    for (int s = 0; s < kSpeakers; ++s) {
        offset_[s] = -1;
        if ((mask & bits_of[s]) == 0) continue;
        const int index = std::popcount(mask & (bits_of[s] - 1));
        if (index < format.channels) offset_[s] = index * (bits / 8);
    }
    // A mono device has one channel whatever its mask says; reading it only
    // as front centre would silence a mono endpoint that declares front left.
    if (monoDevice_ && mask != 0) offset_[FC] = 0;
}

float FrameConverter::read(const uint8_t* frame, Speaker s) const {
    const int offset = offset_[s];
    if (offset < 0) return 0.0f;
    const uint8_t* p = frame + offset;
    if (format_.encoding == SampleEncoding::Float) {
        float v;
        std::memcpy(&v, p, 4);
        return std::clamp(v, -1.0f, 1.0f);
    }
    switch (format_.bitsPerSample) {
        case 16: {
            const int16_t v = static_cast<int16_t>(p[0] | (p[1] << 8));
            return static_cast<float>(v) / 32768.0f;
        }
        case 24: {
            int32_t v = p[0] | (p[1] << 8) | (p[2] << 16);
            if (v & 0x800000) v -= 0x1000000;
            return static_cast<float>(v) / 8388608.0f;
        }
        default: {
            const int32_t v = static_cast<int32_t>(
                static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
                (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24));
            return static_cast<float>(static_cast<double>(v) / 2147483648.0);
        }
    }
}

void FrameConverter::appendSilence(uint32_t frames, std::vector<float>& out) const {
    out.resize(out.size() + static_cast<size_t>(frames) * outputChannels_, 0.0f);
}

void FrameConverter::append(const uint8_t* data, uint32_t frames, float gain,
                            std::vector<float>& out) const {
    if (!readable_ && std::any_of(offset_.begin(), offset_.end(), [](int o) { return o >= 0; })) {
        throw EngineError(4, "Unsupported Windows audio sample format");
    }
    const size_t start = out.size();
    out.resize(start + static_cast<size_t>(frames) * outputChannels_);
    float* o = out.data() + start;
    for (uint32_t i = 0; i < frames; ++i) {
        const uint8_t* frame = data + static_cast<size_t>(i) * format_.blockAlign;
        const float fl = read(frame, FL), fr = read(frame, FR), fc = read(frame, FC);
        const float lfe = read(frame, LFE), bl = read(frame, BL), br = read(frame, BR);
        const float sl = read(frame, SL), sr = read(frame, SR);
        if (outputChannels_ == 2) {
            if (monoDevice_) {
                o[0] = o[1] = fc * gain;
            } else {
                const float left = ((sl + bl) * 0.7071f + fc * 0.7071f + fl + lfe * 0.25f) * gain;
                const float right = ((sr + br) * 0.7071f + fc * 0.7071f + fr + lfe * 0.25f) * gain;
                o[0] = std::clamp(left, -1.0f, 1.0f);
                o[1] = std::clamp(right, -1.0f, 1.0f);
            }
            o += 2;
        } else if (outputChannels_ == 6) {
            o[0] = fl * gain;
            o[1] = fc * gain;
            o[2] = fr * gain;
            o[3] = (bl != 0.0f ? bl : sl) * gain;
            o[4] = (br != 0.0f ? br : sr) * gain;
            o[5] = lfe * gain;
            o += 6;
        } else {
            o[0] = fl * gain;
            o[1] = fc * gain;
            o[2] = fr * gain;
            o[3] = sl * gain;
            o[4] = sr * gain;
            o[5] = bl * gain;
            o[6] = br * gain;
            o[7] = lfe * gain;
            o += 8;
        }
    }
}

}  // namespace zel
