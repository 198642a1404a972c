#include "engine/audio/audio_loopback_capture.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <mutex>
#include <numbers>
#include <thread>

#include "base/engine_error.h"
#include "tests/support/engine_process.h"
#include "tests/support/fake_loopback_client.h"
#include "tests/support/opus_decode.h"

namespace zel {
namespace {

// What the sink saw, with the fake time of each packet.
struct Received {
    std::mutex lock;
    std::vector<EncodedAudioFrame> frames;
    std::vector<uint64_t> atNs;
    size_t stopAfter = SIZE_MAX;
    // The sink holds the worker after this many packets until `resume` is set.
    size_t holdAfter = SIZE_MAX;
    std::atomic<bool> held{false};
    std::atomic<bool> resume{false};

    AudioFrameSink sink(const FakeAudioTiming& timing) {
        return [this, &timing](const EncodedAudioFrame& f) {
            size_t n;
            {
                std::lock_guard<std::mutex> l(lock);
                frames.push_back(f);
                atNs.push_back(timing.nowNs());
                n = frames.size();
            }
            if (n == holdAfter) {
                held = true;
                while (!resume) std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            return n < stopAfter;
        };
    }
    size_t count() {
        std::lock_guard<std::mutex> l(lock);
        return frames.size();
    }
};

std::shared_ptr<FakeLoopbackDevice> tone_device() {
    auto device = std::make_shared<FakeLoopbackDevice>();
    device->fill = [](uint64_t frame, uint8_t* bytes) {
        const float v =
            static_cast<float>(0.5 * std::sin(2 * std::numbers::pi * 440 * frame / 48000.0));
        std::memcpy(bytes, &v, 4);
        std::memcpy(bytes + 4, &v, 4);
    };
    return device;
}

bool wait_inactive_and_ended(AudioLoopbackCapture& capture, FakeLoopbackDevice& device) {
    return eventually(
        [&] {
            std::lock_guard<std::mutex> l(device.lock);
            return !capture.isActive() && device.destroyed;
        },
        20000);
}

TEST(AudioLoopbackCapture, MutedCaptureSendsSilenceAtTheNormalRate) {
    FakeAudioTiming timing;
    auto device = tone_device();
    Received received;
    received.stopAfter = 200;
    AudioLoopbackCapture capture(received.sink(timing), u"", 1.0f, true, 2,
                                 fake_loopback_environment(device, timing));
    capture.start();
    ASSERT_TRUE(wait_inactive_and_ended(capture, *device));
    EXPECT_EQ(capture.lastError(), "");
    EXPECT_EQ(capture.deviceName(), "Fake {speakers}");

    ASSERT_EQ(received.frames.size(), 200u);
    OpusTestDecoder decoder(2);
    std::vector<float> pcm;
    for (size_t i = 0; i < received.frames.size(); ++i) {
        EXPECT_EQ(received.frames[i].sequence, i);
        EXPECT_EQ(received.frames[i].timestampUs - received.frames[0].timestampUs,
                  static_cast<int64_t>(i * 10'000));
        decoder.decode(received.frames[i].data, pcm);
    }
    // 200 packets took two seconds of the device's time.
    EXPECT_NEAR(double(received.atNs.back() - received.atNs.front()) / 1e6, 1990.0, 2.0);
    for (float v : pcm) ASSERT_LT(std::fabs(v), 1e-6f);
}

TEST(AudioLoopbackCapture, VolumeAndMuteFollowTheSetters) {
    FakeAudioTiming timing;
    auto device = tone_device();
    Received received;
    received.stopAfter = 300;
    received.holdAfter = 50;
    AudioLoopbackCapture capture(received.sink(timing), u"default", 5.0f, true, 2,
                                 fake_loopback_environment(device, timing));
    capture.start();
    ASSERT_TRUE(eventually([&] { return received.held.load(); }, 20000));
    capture.setMuted(false);
    capture.setVolume(0.25f);
    capture.setVolume(std::nanf(""));
    received.resume = true;
    ASSERT_TRUE(wait_inactive_and_ended(capture, *device));
    OpusTestDecoder decoder(2);
    std::vector<float> pcm;
    for (const auto& f : received.frames) decoder.decode(f.data, pcm);
    // The last second carries the tone (0.5 peak) at a quarter of its level.
    const double rms = channel_rms(pcm, 2, 0, pcm.size() / 2 - 48000);
    EXPECT_NEAR(rms, 0.5 * 0.25 / std::sqrt(2.0), 0.01);
}

TEST(AudioLoopbackCapture, SinkRefusalEndsTheRunAndStartBeginsANewOne) {
    FakeAudioTiming timing;
    auto device = tone_device();
    Received received;
    received.stopAfter = 3;
    AudioLoopbackCapture capture(received.sink(timing), u"{usb}", 1.0f, false, 2,
                                 fake_loopback_environment(device, timing));
    capture.start();
    ASSERT_TRUE(wait_inactive_and_ended(capture, *device));
    EXPECT_EQ(received.count(), 3u);
    EXPECT_TRUE(device->stopped);
    EXPECT_EQ(capture.lastError(), "");
    {
        std::lock_guard<std::mutex> l(device->lock);
        device->destroyed = false;
    }
    received.stopAfter = 5;
    capture.start();
    ASSERT_TRUE(wait_inactive_and_ended(capture, *device));
    ASSERT_EQ(received.count(), 5u);
    EXPECT_EQ(received.frames[3].sequence, 0u) << "a new run counts from 0";
    EXPECT_EQ(device->openedIds, (std::vector<std::u16string>{u"{usb}", u"{usb}"}));
}

TEST(AudioLoopbackCapture, StopEndsARunningCapture) {
    FakeAudioTiming timing;
    auto device = tone_device();
    Received received;
    AudioLoopbackCapture capture(received.sink(timing), u"", 1.0f, false, 8,
                                 fake_loopback_environment(device, timing));
    capture.start();
    ASSERT_TRUE(eventually([&] { return capture.isActive() && received.count() > 10; }, 20000));
    capture.start();  // running already: nothing happens
    capture.stop();
    EXPECT_FALSE(capture.isActive());
    EXPECT_TRUE(device->destroyed);
    EXPECT_EQ(device->runs, 1);
    EXPECT_EQ(capture.lastError(), "");
}

TEST(AudioLoopbackCapture, FailuresEndTheRunWithTheirText) {
    struct Case {
        const char* what;
        std::function<void(FakeLoopbackDevice&)> setup;
        std::string error;
    } cases[] = {
        {"COM", [](auto& d) { d.enterThreadFails = true; },
         "COM initialization for desktop audio failed"},
        {"8-bit PCM",
         [](auto& d) {
             d.format = {44100, 2, 8, 2, 0, SampleEncoding::Integer};
             d.fill = nullptr;
         },
         "Unsupported Windows audio sample format"},
        {"not PCM", [](auto& d) { d.format.encoding = SampleEncoding::Other; },
         "Windows mix format is not PCM"},
        {"block alignment",
         [](auto& d) {
             d.format.blockAlign = 4;
             d.fill = nullptr;
         },
         "Windows audio mix format has an invalid block alignment"},
        {"open",
         [](auto& d) {
             d.failingStep = "open";
             d.failureText = hresult_text("Get default audio output", 0x80070490);
         },
         "Get default audio output failed: HRESULT -2147023728"},
        {"mix format",
         [](auto& d) {
             d.failingStep = "mixFormat";
             d.failureText = hresult_text("Read audio mix format", 0x88890001);
         },
         "Read audio mix format failed: HRESULT -2004287487"},
        {"start",
         [](auto& d) {
             d.failingStep = "start";
             d.failureText = "Start WASAPI loopback failed: HRESULT -1";
         },
         "Start WASAPI loopback failed: HRESULT -1"},
        {"packet size",
         [](auto& d) {
             d.failingStep = "nextPacketFrames";
             d.failureText = "Read WASAPI packet size failed: HRESULT -5";
         },
         "Read WASAPI packet size failed: HRESULT -5"},
        {"acquire",
         [](auto& d) {
             d.failingStep = "acquire";
             d.failureText = "Acquire WASAPI packet failed: HRESULT -6";
         },
         "Acquire WASAPI packet failed: HRESULT -6"},
        {"release",
         [](auto& d) {
             d.failingStep = "release";
             d.failureText = "Release WASAPI packet failed: HRESULT -7";
         },
         "Release WASAPI packet failed: HRESULT -7"},
    };
    for (const auto& c : cases) {
        FakeAudioTiming timing;
        auto device = tone_device();
        c.setup(*device);
        Received received;
        AudioLoopbackCapture capture(received.sink(timing), u"", 1.0f, false, 2,
                                     fake_loopback_environment(device, timing));
        capture.start();
        ASSERT_TRUE(eventually([&] { return capture.lastError() != ""; }, 20000)) << c.what;
        EXPECT_EQ(capture.lastError(), c.error) << c.what;
        ASSERT_TRUE(eventually([&] { return !capture.isActive(); }, 20000)) << c.what;
    }
}

// Following the default output: a new default ends the run within 500 ms;
// the session's next start() opens the new default from sequence 0.
TEST(AudioLoopbackCapture, DefaultOutputChangeEndsTheRunAndARestartFollowsIt) {
    FakeAudioTiming timing;
    auto device = tone_device();
    Received received;
    AudioLoopbackCapture capture(received.sink(timing), u"", 1.0f, false, 2,
                                 fake_loopback_environment(device, timing));
    capture.start();
    ASSERT_TRUE(eventually([&] { return received.count() >= 100; }, 20000));
    const uint64_t changedAt = timing.nowNs();
    device->setDefault(u"{headphones}");
    ASSERT_TRUE(
        eventually([&] { return !capture.isActive() && capture.lastError() != ""; }, 20000));
    EXPECT_EQ(capture.lastError(), "Default audio output changed; reopening loopback");
    const size_t firstRun = received.count();
    EXPECT_LE(received.atNs.back() - changedAt, 510'000'000u);

    capture.start();
    ASSERT_TRUE(eventually([&] { return received.count() > firstRun + 5; }, 20000));
    capture.stop();
    EXPECT_EQ(received.frames[firstRun].sequence, 0u);
    EXPECT_EQ(capture.deviceName(), "Fake {headphones}");
    EXPECT_EQ(capture.lastError(), "");
}

TEST(AudioOutputsJson, EscapesAndMarksTheDefault) {
    EXPECT_EQ(audio_outputs_json({}), "[]");
    EXPECT_EQ(audio_outputs_json({{u"{0.0.0}.{a\"b}", u"Speakers\t(Realtek\u00ae)\\\x01", true},
                                  {u"x", u"Monitor", false}}),
              "[{\"id\":\"{0.0.0}.{a\\\"b}\",\"name\":\"Speakers\\t(Realtek\u00ae)\\\\\","
              "\"default\":true},"
              "{\"id\":\"x\",\"name\":\"Monitor\",\"default\":false}]");
}

}  // namespace
}  // namespace zel
