#include "engine/audio/audio_loopback_capture.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <exception>

#include "base/clock.h"
#include "base/engine_error.h"
#include "base/text.h"

namespace zel {

namespace {

constexpr uint64_t kMillisecondNs = 1'000'000;
constexpr uint64_t kDefaultCheckNs = 500 * kMillisecondNs;

class SystemAudioTiming : public AudioTiming {
  public:
    uint64_t nowNs() const override { return steady_now_ns(); }
    void sleepUntil(uint64_t ns) const override {
        const uint64_t now = steady_now_ns();
        if (ns > now) std::this_thread::sleep_for(std::chrono::nanoseconds(ns - now));
    }
};

float clamp_volume(float v) {
    return std::clamp(v, 0.0f, 1.0f);
}

void print_line(const std::string& line) {
    std::fputs((line + "\n").c_str(), stdout);
    std::fflush(stdout);
}

}  // namespace

const AudioTiming& system_audio_timing() {
    static const SystemAudioTiming timing;
    return timing;
}

AudioLoopbackCapture::AudioLoopbackCapture(AudioFrameSink sink, std::u16string deviceId,
                                           float volume, bool muted, uint8_t channels,
                                           LoopbackEnvironment environment)
    : sink_(std::move(sink)),
      deviceId_(std::move(deviceId)),
      followDefault_(deviceId_.empty() || deviceId_ == u"default"),
      volume_(std::isnan(volume) ? 1.0f : clamp_volume(volume)),
      muted_(muted),
      channels_(channels),
      environment_(std::move(environment)) {}

AudioLoopbackCapture::~AudioLoopbackCapture() {
    stop();
}

void AudioLoopbackCapture::start() {
    if (running_.exchange(true)) return;
    if (worker_.joinable()) worker_.join();
    {
        std::lock_guard<std::mutex> lock(stateLock_);
        lastError_.clear();
    }
    worker_ = std::thread([this] { run(); });
}

void AudioLoopbackCapture::stop() {
    running_.store(false);
    if (worker_.joinable()) worker_.join();
    active_.store(false);
}

void AudioLoopbackCapture::setVolume(float volume) {
    if (!std::isnan(volume)) volume_.store(clamp_volume(volume), std::memory_order_relaxed);
}

void AudioLoopbackCapture::setMuted(bool muted) {
    muted_.store(muted, std::memory_order_relaxed);
}

std::string AudioLoopbackCapture::lastError() const {
    std::lock_guard<std::mutex> lock(stateLock_);
    return lastError_;
}

std::string AudioLoopbackCapture::deviceName() const {
    std::lock_guard<std::mutex> lock(stateLock_);
    return deviceName_;
}

void AudioLoopbackCapture::run() {
    std::string error;
    try {
        std::unique_ptr<LoopbackCaptureClient> client = environment_.createClient();
        if (!client->enterThread()) {
            error = "COM initialization for desktop audio failed";
        } else {
            try {
                capture(*client);
            } catch (const std::exception& e) {
                error = e.what();
            }
            active_.store(false);
            client.reset();  // leaves the thread state the client entered
        }
    } catch (const std::exception& e) {
        error = e.what();
    }
    if (!error.empty()) {
        std::lock_guard<std::mutex> lock(stateLock_);
        lastError_ = error;
    }
    active_.store(false);
    running_.store(false);
}

void AudioLoopbackCapture::capture(LoopbackCaptureClient& client) {
    const AudioTiming& timing = *environment_.timing;
    client.open(followDefault_ ? std::u16string() : deviceId_);
    const std::u16string openedId = client.openedId();
    {
        std::lock_guard<std::mutex> lock(stateLock_);
        deviceName_ = client.friendlyName();
    }
    const DeviceFormat format = client.mixFormat();
    print_line("Audio mix: " + std::to_string(format.sampleRate) + " Hz, " +
               std::to_string(format.channels) + " channels, " +
               std::to_string(format.bitsPerSample) + " bits");
    if (format.encoding == SampleEncoding::Other) {
        throw EngineError(4, "Windows mix format is not PCM");
    }
    client.start();
    active_.store(true);

    LoopbackPipeline pipeline(format, channels_, timing.nowNs());
    uint64_t nextDefaultCheck = timing.nowNs() + kDefaultCheckNs;
    while (running_.load()) {
        if (followDefault_ && timing.nowNs() >= nextDefaultCheck) {
            std::u16string currentDefault;
            if (!client.defaultOutputId(currentDefault) || currentDefault != openedId) {
                throw EngineError(0, "Default audio output changed; reopening loopback");
            }
            nextDefaultCheck = timing.nowNs() + kDefaultCheckNs;
        }
        uint32_t frames = client.nextPacketFrames(false);
        if (frames == 0) {
            pipeline.pump(timing.nowNs(), running_, sink_);
            timing.sleepUntil(timing.nowNs() + kMillisecondNs);
            continue;
        }
        while (frames != 0) {
            const LoopbackPacket packet = client.acquirePacket();
            if (format.bitsPerSample < 8 || format.channels < 1 ||
                format.blockAlign < format.channels * (format.bitsPerSample / 8)) {
                client.releasePacket(packet.frames);
                throw EngineError(4, "Windows audio mix format has an invalid block alignment");
            }
            // Read once per packet: the session may change them at any time.
            const float gain = muted_.load(std::memory_order_relaxed)
                                   ? 0.0f
                                   : volume_.load(std::memory_order_relaxed);
            pipeline.addPacket(packet.data, packet.frames, packet.silent, gain);
            client.releasePacket(packet.frames);
            frames = client.nextPacketFrames(true);
        }
        pipeline.pump(timing.nowNs(), running_, sink_);
    }
    client.stop();
}

std::string audio_outputs_json(const std::vector<AudioDeviceInfo>& outputs) {
    std::string json = "[";
    for (size_t i = 0; i < outputs.size(); ++i) {
        if (i > 0) json += ',';
        json += "{\"id\":\"" + json_escape(utf16_to_utf8(outputs[i].id)) + "\",\"name\":\"" +
                json_escape(utf16_to_utf8(outputs[i].name)) +
                "\",\"default\":" + (outputs[i].isDefault ? "true" : "false") + "}";
    }
    return json + "]";
}

}  // namespace zel
