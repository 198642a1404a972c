#include "engine/core/stream_client.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <thread>

#include "base/clock.h"
#include "base/engine_error.h"
#include "base/text.h"
#include "engine/audio/audio_loopback_capture.h"
#include "engine/core/adaptive_bitrate.h"
#include "engine/core/console.h"
#include "engine/core/control_file.h"
#include "engine/core/status_file.h"
#include "engine/input/input_injection.h"
#include "engine/protocol/receiver_connection.h"
#include "engine/video/capture_sources.h"
#include "engine/video/encoder_selection.h"
#include "engine/video/video_scaler.h"

namespace zel {

namespace {

constexpr uint64_t kMs = 1'000'000ull;
constexpr uint64_t kSecond = 1'000'000'000ull;
// The first picture normally arrives within a frame or two; a source that
// stays silent this long is broken rather than slow.
constexpr uint64_t kFirstPictureLimitNs = 10 * kSecond;

// Per-frame timings for the end-to-end benchmark, kept only when the
// environment variable ZEL_ENGINE_FRAME_LOG names a file: one line per sent
// frame with its sequence, capture and sent times (steady clock,
// microseconds), encoded size and key-frame flag.
class FrameTimingLog {
  public:
    FrameTimingLog() {
        const char* path = std::getenv("ZEL_ENGINE_FRAME_LOG");
        if (path != nullptr && *path != 0) file_ = std::fopen(path, "a");
    }
    ~FrameTimingLog() {
        if (file_) std::fclose(file_);
    }
    FrameTimingLog(const FrameTimingLog&) = delete;
    FrameTimingLog& operator=(const FrameTimingLog&) = delete;
    void sent(uint32_t sequence, const EncodedVideoFrame& frame) {
        if (!file_) return;
        std::fprintf(file_, "%u %llu %llu %zu %d\n", sequence,
                     static_cast<unsigned long long>(frame.timestampUs),
                     static_cast<unsigned long long>(steady_now_us()), frame.data.size(),
                     frame.keyFrame ? 1 : 0);
    }

  private:
    std::FILE* file_ = nullptr;
};

std::string hex(uint32_t v) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%x", v);
    return buffer;
}

void sleep_until(uint64_t deadlineNs) {
    for (;;) {
        const uint64_t now = steady_now_ns();
        if (now >= deadlineNs) return;
        const uint64_t ms = (deadlineNs - now + kMs - 1) / kMs;
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    }
}

uint8_t audio_layout(uint8_t sessionChannels) {
    if (sessionChannels >= 8) return 8;
    if (sessionChannels < 6) return 2;
    return 6;
}

// Finds the application's window, waiting 0, 0.5, 1, 2 and 4 s before the
// attempts; each failed attempt is reported as "reconnecting".
uint64_t find_target_window(const EngineSettings& s) {
    if (!s.captureApplication.empty()) {
        const uint32_t waitsMs[] = {0, 500, 1000, 2000, 4000};
        for (const uint32_t wait : waitsMs) {
            if (wait) std::this_thread::sleep_for(std::chrono::milliseconds(wait));
            if (const uint64_t w = find_application_window(s.captureApplication, s.captureWindowTitle)) {
                return w;
            }
            writeStatus(s.statusFile,
                        idle_status("reconnecting",
                                    "Sumber belum tersedia; mencoba menemukan aplikasi kembali"));
        }
        throw EngineError(0, "Selected application has no capturable window");
    }
    if (s.captureProcess != 0) {
        if (const uint64_t w = find_process_window(s.captureProcess)) return w;
        throw EngineError(0, "Selected application has no capturable window");
    }
    return s.captureWindow;
}

// Running totals read at each periodic status write.
struct IntervalCounters {
    uint64_t bytes = 0;
    uint64_t videoDatagrams = 0;
    uint64_t dropped = 0;
    uint64_t audioPackets = 0;
};

}  // namespace

StreamClientResult stream_client(net::Socket& socket, const EngineSettings& settings) {
    StreamClientResult result;
    const SteadyClock& clock = system_steady_clock();

    // 1. Handshake.
    ReceiverConnection connection(socket, settings.sessionToken, clock);
    connection.handshake();
    const bool v2 = connection.versionAtLeast2();

    // 2. Audio channels of the session.
    const uint8_t receiverChannels = connection.receiverChannels();
    const uint8_t sessionChannels =
        (settings.audioChannels != 0 && settings.audioChannels < receiverChannels)
            ? settings.audioChannels
            : receiverChannels;
    bool pointerHidden = v2 && connection.drawsPointer();

    // 3. Capture target; 4. capture source.
    const uint64_t window = find_target_window(settings);
    DisplaySelection display;
    CaptureRegion region = settings.region;
    if (!settings.captureOutput.empty()) {
        try {
            display = selectDisplay(settings.captureOutput);
        } catch (const EngineError&) {
            writeStatus(settings.statusFile,
                        idle_status("reconnecting", "Monitor pilihan tidak tersedia; memakai monitor utama"));
            region = {};
            display = selectPrimaryDisplay();
        }
    } else {
        display = selectPrimaryDisplay();
    }
    const bool drawPointer = settings.showCursor && !pointerHidden;
    std::unique_ptr<VideoCaptureSource> source =
        window != 0 ? create_window_capture(display, window, drawPointer)
                    : create_desktop_capture(display, drawPointer, region);

    // 5. Output size and scaler.
    const uint32_t outputWidth = settings.width ? settings.width : source->width();
    const uint32_t outputHeight = settings.height ? settings.height : source->height();
    std::unique_ptr<VideoScaler> scaler;
    VideoTexture* encoderInput = source->texture();
    if (outputWidth != source->width() || outputHeight != source->height()) {
        scaler = create_video_scaler(source->device(), source->texture(), outputWidth, outputHeight,
                                     settings.fps);
        encoderInput = scaler->outputTexture();
    }

    // 7. Codec negotiation.
    const bool hevcCapable = v2 && connection.hevcCapable();
    const std::string& codec = settings.videoCodec;
    if ((codec == "hevc" && !hevcCapable) || (codec == "h264" && connection.requiresHevc())) {
        throw EngineError(4, "Requested codec is not supported by receiver at this resolution/FPS");
    }
    EncoderSettings encoderSettings;
    encoderSettings.width = outputWidth;
    encoderSettings.height = outputHeight;
    encoderSettings.fps = settings.fps;
    encoderSettings.bitrate = settings.bitrate;
    encoderSettings.visualProfile = settings.visualProfile;
    encoderSettings.preferHevc = codec != "h264" && hevcCapable &&
                                 (codec == "hevc" || connection.requiresHevc() ||
                                  outputWidth >= 2560 || outputHeight >= 1440);
    encoderSettings.requireHevc = codec == "hevc" || connection.requiresHevc();

    // 8. Encoder; 9. metadata.
    std::unique_ptr<VideoEncoder> encoder = createVideoEncoder(
        source->device(), encoderInput, encoderSettings, display.info.vendorId);
    const EncoderInfo& info = encoder->info();
    connection.sendMetadata(uint16_t(outputWidth), uint16_t(outputHeight), uint16_t(settings.fps),
                            sessionChannels, info.codecId);

    // 10. First "streaming" write.
    const std::string gpuName = utf16_to_utf8(display.info.gpuName);
    const std::string displayName = utf16_to_utf8(display.info.displayName);
    StatusReport status = idle_status("streaming", "Streaming desktop aktif");
    status.backend = info.backendName;
    status.gpu = gpuName;
    status.display = displayName;
    status.width = outputWidth;
    status.height = outputHeight;
    status.fps = settings.fps;
    writeStatus(settings.statusFile, status);

    // 11. Audio.
    std::atomic<uint64_t> audioPacketsSent{0};
    const uint8_t layout = audio_layout(sessionChannels);
    auto audio = std::make_unique<AudioLoopbackCapture>(
        [&connection, &audioPacketsSent](const EncodedAudioFrame& packet) {
            const bool sent = connection.sendAudioPacket(packet);
            if (sent) ++audioPacketsSent;
            return sent;
        },
        settings.audioDevice, settings.audioVolume, settings.audioMuted, layout);
    const bool wantsAudio = v2 && connection.wantsAudio();
    if (wantsAudio) audio->start();
    uint64_t lastAudioAttemptNs = clock.nowNs();

    // 12. First picture.
    const uint64_t firstPictureDeadline = clock.nowNs() + kFirstPictureLimitNs;
    for (;;) {
        const CapturedFrame f = source->acquireFrame(100);
        if (f.isNew) break;
        if (clock.nowNs() >= firstPictureDeadline) {
            throw EngineError(0, "Capture source delivered no picture within 10 seconds");
        }
    }
    if (scaler) scaler->scale();

    // 13. Console.
    console_out("GPU: " + gpuName + " vendor=0x" + hex(display.info.vendorId) + " device=0x" +
                hex(display.info.deviceId) + " output=" + displayName);
    console_out("Session: " + info.backendName + " " + std::to_string(outputWidth) + "x" +
                std::to_string(outputHeight) + "@" + std::to_string(settings.fps));

    // 14. Pacing.
    const uint64_t frameInterval = kSecond / settings.fps;
    const uint64_t sessionStart = clock.nowNs();
    uint64_t nextDeadline = sessionStart;

    AdaptiveBitrate abr(settings.bitrate, settings.adaptiveBitrate, sessionStart);
    ControlValues control{settings.audioVolume, settings.audioMuted, settings.showCursor};
    uint64_t lastControlNs = 0;
    bool controlRead = false;
    bool impairmentStarted = false, impairmentEnded = false;
    bool inputAnnounced = false;
    bool decoderStarted = false;
    uint32_t frameSequence = 0;
    FrameTimingLog frameLog;

    // Interval figures for the periodic status writes.
    uint64_t intervalStart = sessionStart;
    uint32_t frames = 0;
    double captureSumMs = 0, encodeSumMs = 0;
    IntervalCounters previous;
    double rttMs = 0, avSyncMs = 0, audioBufferedMs = 0, receiverAudioSampleRate = 0;
    int64_t decoderQueue = 0, mediaQueue = 0, audioUnderruns = 0;
    std::optional<protocol::AudioReport> lastAudioReport;
    std::optional<double> startupMs, referenceRecoveryMs;
    std::optional<ReceiverEvents::Health> health;

    while (connection.isAlive()) {
        // 1. Control file every 50 ms.
        uint64_t now = clock.nowNs();
        if (!controlRead || now - lastControlNs >= 50 * kMs) {
            controlRead = true;
            lastControlNs = now;
            control = readControl(settings.controlFile, control);
            audio->setVolume(control.volume);
            audio->setMuted(control.muted);
            if (control.showCursor && !pointerHidden) source->setCursorVisible(true);
            else if (!control.showCursor) source->setCursorVisible(false);
        }

        // 2. Test impairment.
        if (settings.testDropEvery != 0) {
            const uint64_t start = sessionStart + uint64_t(settings.testDropDelaySeconds) * kSecond;
            const uint64_t end = start + uint64_t(settings.testDropDurationSeconds) * kSecond;
            if (!impairmentStarted && now >= start) {
                impairmentStarted = true;
                connection.setDropInterval(settings.testDropEvery);
                console_out("Test video impairment started");
            }
            if (impairmentStarted && !impairmentEnded && now >= end) {
                impairmentEnded = true;
                connection.setDropInterval(0);
                console_out("Test video impairment ended");
            }
        }

        // 3. Restart audio that stopped.
        if (wantsAudio && !audio->isActive() && now - lastAudioAttemptNs >= kSecond) {
            lastAudioAttemptNs = now;
            audio->start();
        }

        // 4. Capture.
        const uint64_t t0 = clock.nowNs();
        const CapturedFrame captured = source->acquireFrame(0);
        const uint64_t t1 = clock.nowNs();
        if (captured.isNew && scaler) scaler->scale();
        CapturedFrame frame = captured;
        frame.texture = encoderInput;

        // 5. Receiver messages.
        const uint64_t t2 = clock.nowNs();
        ReceiverEvents events = connection.pollReceiver();

        // 6. End requested.
        if (events.endRequested) {
            console_out("Authenticated session end requested by receiver");
            result.endedByReceiver = true;
            break;
        }

        // 7. Reports.
        TurnFeedback feedback;
        feedback.keyFrameRequested = events.keyFrameRequested;
        if (events.transport) {
            const auto& t = *events.transport;
            feedback.transport = TransportFeedback{t.received, t.lost, t.decoderQueue, t.mediaQueue};
            rttMs = t.rttUs / 1000.0;
            decoderQueue = t.decoderQueue;
            mediaQueue = t.mediaQueue;
        }
        if (events.health) {
            feedback.health = HealthFeedback{events.health->lossPercent, events.health->thermalStatus,
                                             events.health->availableMemoryMb};
            health = events.health;
        }
        if (events.audio) {
            const auto& a = *events.audio;
            avSyncMs = a.avSyncUs / 1000.0;
            audioUnderruns = a.underruns;
            audioBufferedMs = a.samplesBuffered * 1000.0 / 48000.0;
            if (lastAudioReport && a.timestampUs > lastAudioReport->timestampUs &&
                a.samplesPlayed != lastAudioReport->samplesPlayed) {
                receiverAudioSampleRate =
                    double(uint32_t(a.samplesPlayed - lastAudioReport->samplesPlayed)) * 1'000'000.0 /
                    double(a.timestampUs - lastAudioReport->timestampUs);
            }
            lastAudioReport = a;
        }
        if (events.decoderStartedUs) {
            decoderStarted = true;
            startupMs = *events.decoderStartedUs / 1000.0;
        }
        if (events.referenceRecoveredUs) referenceRecoveryMs = *events.referenceRecoveredUs / 1000.0;
        std::vector<std::string> lines;
        abr.onTurn(feedback, clock.nowNs(),
                   [&encoder](uint32_t bitrate) { return encoder->setBitrate(bitrate); }, lines);
        for (const auto& line : lines) console_out(line);

        // 8. Input.
        for (const RemoteInputEvent& event : events.inputEvents) {
            if ((event.kind == 2 || event.kind == 3 || event.kind == 7) && !pointerHidden) {
                source->setCursorVisible(false);
                pointerHidden = true;
            }
            if (injectInput(event) && !inputAnnounced) {
                inputAnnounced = true;
                console_out("Remote input channel active");
            }
        }

        // 9. Key frame and encode.
        const KeyFrameDecision key =
            decide_key_frame(frameSequence, connection.udpActive(), settings.fps,
                             settings.visualProfile, abr.lossReport(), abr.bitrateChanged(),
                             events.keyFrameRequested);
        const EncodedVideoFrame encoded = encoder->encode(frame, frameSequence, key.force);
        const uint64_t t3 = clock.nowNs();
        if (key.announce) {
            console_out(forced_idr_line(frameSequence, events.keyFrameRequested, abr.lossReport(),
                                        abr.bitrateChanged(), encoded.hasOutput ? encoded.data.size() : 0,
                                        encoded.hasOutput && encoded.keyFrame));
        }

        // 10. Send.
        if (encoded.hasOutput) {
            if (!connection.sendVideoFrame(encoded)) break;
            frameLog.sent(frameSequence, encoded);
        }

        // 11. Count, and the periodic status write.
        ++frames;
        captureSumMs += double(t1 - t0) / 1e6;
        encodeSumMs += double(t3 - t2) / 1e6;
        now = clock.nowNs();
        if (now - intervalStart >= 2 * kSecond) {
            const double seconds = double(now - intervalStart) / 1e9;
            const IntervalCounters current{connection.videoBytes() + connection.audioBytes(),
                                           connection.videoDatagrams(), connection.droppedDatagrams(),
                                           audioPacketsSent.load()};
            const uint64_t sentDatagrams = current.videoDatagrams - previous.videoDatagrams;
            const uint64_t withheld = current.dropped - previous.dropped;
            StatusReport s = idle_status("streaming", "Streaming desktop aktif");
            s.backend = info.backendName;
            s.gpu = gpuName;
            s.display = displayName;
            s.width = outputWidth;
            s.height = outputHeight;
            s.fps = frames / seconds;
            s.captureMs = frames ? captureSumMs / frames : 0;
            s.encodeMs = frames ? encodeSumMs / frames : 0;
            s.bitrateMbps = s.targetBitrateMbps = abr.currentBitrate() / 1e6;
            s.mediaBitrateMbps = double(current.bytes - previous.bytes) * 8 / seconds / 1e6;
            s.injectedPacketLossPercent =
                withheld + sentDatagrams == 0 ? 0 : double(withheld) * 100 / double(withheld + sentDatagrams);
            s.rttMs = rttMs;
            s.packetLossPercent = abr.maxLossPercent();
            s.decoderQueue = decoderQueue;
            s.mediaQueue = mediaQueue;
            s.avSyncMs = avSyncMs;
            s.audioUnderruns = audioUnderruns;
            s.audioBufferedMs = audioBufferedMs;
            s.hostAudioPacketsPerSecond = double(current.audioPackets - previous.audioPackets) / seconds;
            s.receiverAudioSampleRate = receiverAudioSampleRate;
            s.audioDevice = audio->deviceName();
            s.audioError = audio->lastError();
            s.audioVolumePercent = control.volume * 100;
            s.audioMuted = control.muted;
            s.cursorVisible = source->cursorVisible();
            s.cursorCapable = source->cursorSupported();
            s.startupMs = startupMs;
            s.referenceRecoveryMs = referenceRecoveryMs;
            if (health) {
                s.receiverFps = health->fps;
                s.receiverTargetFps = health->targetFps;
                s.receiverMaxDecoderQueue = health->maxDecoderQueue;
                s.receiverThermalStatus = health->thermalStatus;
                s.receiverAvailableMemoryMb = health->availableMemoryMb;
            }
            s.receiverHevcCapable = hevcCapable;
            s.codec = info.bitstreamFormat;
            s.audioChannels = layout;
            writeStatus(settings.statusFile, s);
            previous = current;
            intervalStart = now;
            frames = 0;
            captureSumMs = encodeSumMs = 0;
            abr.resetIntervalLoss();
        }

        // 12. Pacing; 13. next frame.
        nextDeadline += frameInterval;
        if (nextDeadline + frameInterval < now) nextDeadline = now;
        sleep_until(nextDeadline);
        ++frameSequence;
    }

    // End of session.
    audio->stop();
    encoder->flush();
    releaseAllInput();
    const bool fourK = outputWidth >= 3840 && outputHeight >= 2160 && settings.fps >= 60;
    if (fourK && !decoderStarted && !result.endedByReceiver &&
        clock.nowNs() - sessionStart < 10 * kSecond) {
        throw EngineError(4,
                          "Receiver tidak dapat memulai decoder 4K 60 FPS dengan codec aktif. Pilih "
                          "kualitas 1440p atau 1080p, lalu jalankan Uji Receiver.");
    }
    result.testImpairmentApplied = settings.testDropEvery != 0 && impairmentStarted;
    return result;
}

}  // namespace zel
