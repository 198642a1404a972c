#pragma once

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "base/engine_error.h"
#include "engine/audio/audio_loopback_capture.h"
#include "engine/audio/loopback_client.h"

namespace zel {

// Time that passes only when the worker sleeps, so a capture run covers
// minutes of audio in moments.
class FakeAudioTiming : public AudioTiming {
  public:
    uint64_t nowNs() const override { return now_.load(); }
    void sleepUntil(uint64_t ns) const override {
        uint64_t current = now_.load();
        while (ns > current && !now_.compare_exchange_weak(current, ns)) {
        }
    }

  private:
    mutable std::atomic<uint64_t> now_{1'000'000'000};
};

// A loopback device for the capture worker: one packet of `framesPerPacket`
// frames becomes ready every `packetIntervalNs` of the fake time, filled by
// `fill` (frame index since the start, bytes of one frame). Failures are
// injected per step. Shared between the test thread and the worker.
struct FakeLoopbackDevice {
    DeviceFormat format{48000, 2, 32, 8, 0, SampleEncoding::Float};
    uint32_t framesPerPacket = 480;
    uint64_t packetIntervalNs = 10'000'000;
    std::function<void(uint64_t frame, uint8_t* bytes)> fill;
    bool silentPackets = false;
    bool enterThreadFails = false;
    std::string
        failingStep;  // "open", "mixFormat", "start", "nextPacketFrames", "acquire", "release"
    std::string failureText;
    const FakeAudioTiming* timing = nullptr;

    std::mutex lock;  // guards the members below
    std::u16string defaultId = u"{speakers}";
    std::vector<std::u16string> openedIds;  // the ids open() was called with
    int runs = 0;
    bool stopped = false;
    bool destroyed = false;

    void setDefault(std::u16string id) {
        std::lock_guard<std::mutex> l(lock);
        defaultId = std::move(id);
    }
};

class FakeLoopbackClient : public LoopbackCaptureClient {
  public:
    explicit FakeLoopbackClient(std::shared_ptr<FakeLoopbackDevice> device)
        : device_(std::move(device)) {}
    ~FakeLoopbackClient() override {
        std::lock_guard<std::mutex> l(device_->lock);
        device_->destroyed = true;
    }

    bool enterThread() override { return !device_->enterThreadFails; }

    void open(const std::u16string& deviceId) override {
        fail("open");
        std::lock_guard<std::mutex> l(device_->lock);
        device_->openedIds.push_back(deviceId);
        ++device_->runs;
        openedId_ = deviceId.empty() ? device_->defaultId : deviceId;
    }
    std::u16string openedId() const override { return openedId_; }
    std::string friendlyName() const override {
        return "Fake " + std::string(openedId_.begin(), openedId_.end());
    }
    DeviceFormat mixFormat() override {
        fail("mixFormat");
        return device_->format;
    }
    void start() override {
        fail("start");
        startNs_ = device_->timing->nowNs();
    }
    uint32_t nextPacketFrames(bool) override {
        fail("nextPacketFrames");
        const uint64_t ready = (device_->timing->nowNs() - startNs_) / device_->packetIntervalNs;
        return ready > delivered_ ? device_->framesPerPacket : 0;
    }
    LoopbackPacket acquirePacket() override {
        fail("acquire");
        const DeviceFormat& f = device_->format;
        buffer_.assign(static_cast<size_t>(device_->framesPerPacket) * f.blockAlign, 0);
        for (uint32_t i = 0; i < device_->framesPerPacket && device_->fill; ++i) {
            device_->fill(frame_ + i, buffer_.data() + static_cast<size_t>(i) * f.blockAlign);
        }
        return {buffer_.data(), device_->framesPerPacket, device_->silentPackets};
    }
    void releasePacket(uint32_t frames) override {
        fail("release");
        frame_ += frames;
        ++delivered_;
    }
    bool defaultOutputId(std::u16string& id) override {
        std::lock_guard<std::mutex> l(device_->lock);
        id = device_->defaultId;
        return !id.empty();
    }
    void stop() override {
        std::lock_guard<std::mutex> l(device_->lock);
        device_->stopped = true;
    }

  private:
    void fail(const char* step) {
        if (device_->failingStep == step) throw EngineError(0, device_->failureText);
    }

    std::shared_ptr<FakeLoopbackDevice> device_;
    std::u16string openedId_;
    uint64_t startNs_ = 0;
    uint64_t delivered_ = 0;
    uint64_t frame_ = 0;
    std::vector<uint8_t> buffer_;
};

inline LoopbackEnvironment fake_loopback_environment(std::shared_ptr<FakeLoopbackDevice> device,
                                                     const FakeAudioTiming& timing) {
    device->timing = &timing;
    LoopbackEnvironment env;
    env.createClient = [device] { return std::make_unique<FakeLoopbackClient>(device); };
    env.timing = &timing;
    return env;
}

}  // namespace zel
