#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/audio/loopback_client.h"
#include "engine/audio/loopback_pipeline.h"

namespace zel {

// Time as the capture worker sees it; tests replace it to run minutes of
// capture without waiting.
class AudioTiming {
  public:
    virtual ~AudioTiming() = default;
    virtual uint64_t nowNs() const = 0;
    virtual void sleepUntil(uint64_t ns) const = 0;
};
const AudioTiming& system_audio_timing();

// What a capture worker run is built from. The defaults are this OS's client
// and the real steady clock.
struct LoopbackEnvironment {
    std::function<std::unique_ptr<LoopbackCaptureClient>()> createClient =
        create_loopback_capture_client;
    const AudioTiming* timing = &system_audio_timing();
};

// Streams what the PC plays: one worker thread per run captures an audio
// output by loopback, converts it to the stream layout with volume and mute,
// resamples to 48 kHz and hands one Opus packet per 10 ms to the sink.
// start/stop/setters/getters are called from one thread (the session's); the
// sink runs on the worker thread. Errors never escape the worker: they end
// the run and show in lastError(), and the session calls start() again.
class AudioLoopbackCapture {
  public:
    // deviceId empty or exactly "default": follow the default output (a
    // change of default ends the run). channels: 2, 6 or 8, fixed.
    AudioLoopbackCapture(AudioFrameSink sink, std::u16string deviceId, float volume, bool muted,
                         uint8_t channels, LoopbackEnvironment environment = {});
    ~AudioLoopbackCapture();
    AudioLoopbackCapture(const AudioLoopbackCapture&) = delete;
    AudioLoopbackCapture& operator=(const AudioLoopbackCapture&) = delete;

    // Starts a run unless one is running (or still starting).
    void start();
    // Ends the run and waits for its thread.
    void stop();

    void setVolume(float volume);  // clamped to 0..1; NaN is ignored
    void setMuted(bool muted);

    // True from the start of the loopback stream until the run ends.
    bool isActive() const { return active_.load(); }
    // Why the last run ended; empty while none failed.
    std::string lastError() const;
    // Name of the output opened last (UTF-8).
    std::string deviceName() const;

  private:
    void run();
    void capture(LoopbackCaptureClient& client);

    AudioFrameSink sink_;
    std::u16string deviceId_;
    bool followDefault_;
    std::atomic<float> volume_;
    std::atomic<bool> muted_;
    uint8_t channels_;
    LoopbackEnvironment environment_;
    std::atomic<bool> running_{false};
    std::atomic<bool> active_{false};
    std::thread worker_;
    mutable std::mutex stateLock_;
    std::string lastError_;
    std::string deviceName_;
};

// One active audio output.
struct AudioDeviceInfo {
    std::u16string id;
    std::u16string name;
    bool isDefault = false;
};

// The active outputs in the OS's order. Throws EngineError category 0.
std::vector<AudioDeviceInfo> listAudioOutputs();

// The listing's one JSON line (newline not included):
// [{"id":"..","name":"..","default":true},...]
std::string audio_outputs_json(const std::vector<AudioDeviceInfo>& outputs);

}  // namespace zel
