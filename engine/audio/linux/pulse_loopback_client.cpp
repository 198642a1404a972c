// Loopback capture on Linux: the chosen (or default) PulseAudio sink is
// recorded through its monitor source. Works with PipeWire's Pulse server.
#include <algorithm>
#include <memory>
#include <utility>

#include "base/engine_error.h"
#include "base/text.h"
#include "engine/audio/audio_loopback_capture.h"
#include "engine/audio/linux/pulse_connection.h"
#include "engine/audio/loopback_client.h"

namespace zel {

namespace {

constexpr int kStreamTimeoutMs = 5000;

struct SpeakerPosition {
    pa_channel_position_t position;
    uint32_t bit;
};
constexpr SpeakerPosition kSpeakers[] = {
    {PA_CHANNEL_POSITION_FRONT_LEFT, kSpeakerFrontLeft},
    {PA_CHANNEL_POSITION_FRONT_RIGHT, kSpeakerFrontRight},
    {PA_CHANNEL_POSITION_FRONT_CENTER, kSpeakerFrontCenter},
    {PA_CHANNEL_POSITION_LFE, kSpeakerLfe},
    {PA_CHANNEL_POSITION_REAR_LEFT, kSpeakerBackLeft},
    {PA_CHANNEL_POSITION_REAR_RIGHT, kSpeakerBackRight},
    {PA_CHANNEL_POSITION_SIDE_LEFT, kSpeakerSideLeft},
    {PA_CHANNEL_POSITION_SIDE_RIGHT, kSpeakerSideRight},
};

// The recording format: the sink's own rate and sample type when the
// converter reads it (else float), and its known speakers in mask order, so
// the frames look like a Windows mix format with a channel mask. Pulse
// remaps the monitor's channels into that order.
struct RecordFormat {
    pa_sample_spec sampleFormat{};
    pa_channel_map map{};
    DeviceFormat device;
};

RecordFormat record_format(const PulseSink& sink) {
    RecordFormat r;
    r.sampleFormat.rate = sink.sampleSpec.rate;
    switch (sink.sampleSpec.format) {
        case PA_SAMPLE_S16LE:
            r.sampleFormat.format = PA_SAMPLE_S16LE;
            r.device.encoding = SampleEncoding::Integer;
            r.device.bitsPerSample = 16;
            break;
        case PA_SAMPLE_S24LE:
            r.sampleFormat.format = PA_SAMPLE_S24LE;
            r.device.encoding = SampleEncoding::Integer;
            r.device.bitsPerSample = 24;
            break;
        case PA_SAMPLE_S32LE:
            r.sampleFormat.format = PA_SAMPLE_S32LE;
            r.device.encoding = SampleEncoding::Integer;
            r.device.bitsPerSample = 32;
            break;
        default:
            r.sampleFormat.format = PA_SAMPLE_FLOAT32LE;
            r.device.encoding = SampleEncoding::Float;
            r.device.bitsPerSample = 32;
            break;
    }

    uint32_t mask = 0;
    for (unsigned c = 0; c < sink.channelMap.channels; ++c) {
        const pa_channel_position_t p = sink.channelMap.map[c];
        if (p == PA_CHANNEL_POSITION_MONO) mask |= kSpeakerFrontCenter;
        for (const auto& s : kSpeakers) {
            if (s.position == p) mask |= s.bit;
        }
    }
    if (sink.sampleSpec.channels == 1) {
        pa_channel_map_init_mono(&r.map);
        mask = 0;  // mono: front centre by count
    } else {
        if (mask == 0) mask = kSpeakerFrontLeft | kSpeakerFrontRight;
        pa_channel_map_init(&r.map);
        for (const auto& s : kSpeakers) {
            if (mask & s.bit) r.map.map[r.map.channels++] = s.position;
        }
    }
    r.sampleFormat.channels = r.map.channels;
    r.device.sampleRate = r.sampleFormat.rate;
    r.device.channels = r.map.channels;
    r.device.blockAlign = static_cast<uint16_t>(r.map.channels * (r.device.bitsPerSample / 8));
    r.device.channelMask = mask;
    return r;
}

class PulseLoopbackClient : public LoopbackCaptureClient {
  public:
    ~PulseLoopbackClient() override {
        if (stream_ != nullptr) {
            if (peeked_) pa_stream_drop(stream_);
            pa_stream_disconnect(stream_);
            pa_stream_unref(stream_);
        }
    }

    bool enterThread() override { return true; }

    void open(const std::u16string& deviceId) override {
        connection_ = std::make_unique<PulseConnection>("ZEL Stream loopback");
        followsDefault_ = deviceId.empty();
        std::string name;
        if (followsDefault_) {
            name = connection_->defaultSinkName("Get default audio output");
            if (name.empty() || !connection_->sink(name, sink_, "Get default audio output")) {
                throw EngineError(0, "Get default audio output failed: no default output");
            }
        } else if (!connection_->sink(utf16_to_utf8(deviceId), sink_, "Open audio output")) {
            throw EngineError(0, "Selected audio output is unavailable; waiting to reconnect");
        }
        format_ = record_format(sink_);
    }

    std::u16string openedId() const override { return utf8_to_utf16(sink_.name); }
    std::string friendlyName() const override { return sink_.description; }
    DeviceFormat mixFormat() override { return format_.device; }

    void start() override {
        stream_ = pa_stream_new(connection_->context(), "ZEL Stream loopback", &format_.sampleFormat,
                                &format_.map);
        if (stream_ == nullptr)
            throw EngineError(0, connection_->failure("Create PulseAudio stream"));
        pa_buffer_attr attr;
        attr.maxlength = static_cast<uint32_t>(-1);
        attr.tlength = attr.prebuf = attr.minreq = static_cast<uint32_t>(-1);
        attr.fragsize = static_cast<uint32_t>(pa_usec_to_bytes(10000, &format_.sampleFormat));
        // Pinned to the sink's monitor: a vanished sink ends the stream
        // rather than moving it to some other source.
        const auto flags =
            static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_DONT_MOVE);
        const bool ok =
            pa_stream_connect_record(stream_, sink_.monitorSource.c_str(), &attr, flags) >= 0 &&
            connection_->runUntil(
                [&] {
                    const pa_stream_state_t s = pa_stream_get_state(stream_);
                    return s == PA_STREAM_READY || !PA_STREAM_IS_GOOD(s);
                },
                kStreamTimeoutMs) &&
            pa_stream_get_state(stream_) == PA_STREAM_READY;
        if (!ok) throw EngineError(0, connection_->failure("Start PulseAudio loopback"));
    }

    uint32_t nextPacketFrames(bool afterPacket) override {
        if (!peeked_) {
            if (!connection_->dispatch()) {
                throw EngineError(0,
                                  connection_->failure(afterPacket ? "Read next audio packet size"
                                                                   : "Read audio packet size"));
            }
            if (pa_stream_get_state(stream_) != PA_STREAM_READY) {
                throw EngineError(
                    0, followsDefault_
                           ? "Default audio output changed; reopening loopback"
                           : "Selected audio output is unavailable; waiting to reconnect");
            }
            if (pa_stream_readable_size(stream_) == 0) return 0;
            const void* data = nullptr;
            size_t bytes = 0;
            if (pa_stream_peek(stream_, &data, &bytes) < 0) {
                throw EngineError(0, connection_->failure("Acquire audio packet"));
            }
            if (bytes == 0) return 0;
            peeked_ = true;
            packet_.data = static_cast<const uint8_t*>(data);
            packet_.frames = static_cast<uint32_t>(bytes / format_.device.blockAlign);
            packet_.silent = data == nullptr;  // a hole in the recording
            if (packet_.frames == 0) {
                releasePacket(0);
                return 0;
            }
        }
        return packet_.frames;
    }

    LoopbackPacket acquirePacket() override { return packet_; }

    void releasePacket(uint32_t) override {
        if (!peeked_) return;
        peeked_ = false;
        if (pa_stream_drop(stream_) < 0)
            throw EngineError(0, connection_->failure("Release audio packet"));
    }

    bool defaultOutputId(std::u16string& id) override {
        try {
            const std::string name = connection_->defaultSinkName("Get default audio output");
            if (name.empty()) return false;
            id = utf8_to_utf16(name);
            return true;
        } catch (const EngineError&) {
            return false;
        }
    }

    void stop() override {
        if (stream_ == nullptr) return;
        if (peeked_) releasePacket(0);
        pa_stream_disconnect(stream_);
        pa_stream_unref(stream_);
        stream_ = nullptr;
    }

  private:
    std::unique_ptr<PulseConnection> connection_;
    bool followsDefault_ = true;
    PulseSink sink_;
    RecordFormat format_;
    pa_stream* stream_ = nullptr;
    bool peeked_ = false;
    LoopbackPacket packet_;
};

}  // namespace

std::unique_ptr<LoopbackCaptureClient> create_loopback_capture_client() {
    return std::make_unique<PulseLoopbackClient>();
}

std::vector<AudioDeviceInfo> listAudioOutputs() {
    PulseConnection connection("ZEL Stream audio devices");
    const std::string defaultName = connection.defaultSinkName("Get default audio output");
    std::vector<AudioDeviceInfo> outputs;
    for (const PulseSink& sink : connection.sinks("Enumerate audio outputs")) {
        outputs.push_back({utf8_to_utf16(sink.name), utf8_to_utf16(sink.description),
                           !defaultName.empty() && sink.name == defaultName});
    }
    return outputs;
}

}  // namespace zel
