#include "engine/core/status_file.h"

#include <mutex>

#include "base/fs.h"
#include "base/process.h"
#include "base/text.h"
#include "engine/core/engine_settings.h"
#include "engine/input/gamepad_manager.h"

namespace zel {

namespace {

class JsonLine {
public:
    JsonLine() { text_.reserve(1400); }
    void str(const char* key, const std::string& v) { add(key, "\"" + json_escape(v) + "\""); }
    void num(const char* key, double v) { add(key, format_number(v)); }
    void integer(const char* key, int64_t v) { add(key, std::to_string(v)); }
    void boolean(const char* key, bool v) { add(key, v ? "true" : "false"); }
    void maybe(const char* key, const std::optional<double>& v) {
        add(key, v ? format_number(*v) : "null");
    }
    std::string finish() { return text_ + "}"; }

private:
    void add(const char* key, const std::string& value) {
        text_ += text_.empty() ? "{\"" : ",\"";
        text_ += key;
        text_ += "\":";
        text_ += value;
    }
    std::string text_;
};

}  // namespace

StatusReport idle_status(std::string state, std::string message) {
    StatusReport r;
    r.state = std::move(state);
    r.message = std::move(message);
    return r;
}

std::string render_status_json(const StatusReport& r, const ProcessFigures& f) {
    JsonLine j;
    j.str("state", r.state);
    j.str("message", r.message);
    j.str("backend", r.backend);
    j.str("gpu", r.gpu);
    j.str("display", r.display);
    j.integer("width", r.width);
    j.integer("height", r.height);
    j.num("fps", r.fps);
    j.num("captureMs", r.captureMs);
    j.num("encodeMs", r.encodeMs);
    j.num("bitrateMbps", r.bitrateMbps);
    j.num("targetBitrateMbps", r.targetBitrateMbps);
    j.num("mediaBitrateMbps", r.mediaBitrateMbps);
    j.num("injectedPacketLossPercent", r.injectedPacketLossPercent);
    j.num("rttMs", r.rttMs);
    j.num("packetLossPercent", r.packetLossPercent);
    j.integer("decoderQueue", r.decoderQueue);
    j.integer("mediaQueue", r.mediaQueue);
    j.num("avSyncMs", r.avSyncMs);
    j.integer("audioUnderruns", r.audioUnderruns);
    j.num("audioBufferedMs", r.audioBufferedMs);
    j.num("hostAudioPacketsPerSecond", r.hostAudioPacketsPerSecond);
    j.num("receiverAudioSampleRate", r.receiverAudioSampleRate);
    j.str("audioDevice", r.audioDevice);
    j.str("audioError", r.audioError);
    j.num("audioVolumePercent", r.audioVolumePercent);
    j.boolean("audioMuted", r.audioMuted);
    j.boolean("cursorVisible", r.cursorVisible);
    j.boolean("cursorCapable", r.cursorCapable);
    j.maybe("startupMs", r.startupMs);
    j.maybe("referenceRecoveryMs", r.referenceRecoveryMs);
    j.num("receiverFps", r.receiverFps);
    j.integer("receiverTargetFps", r.receiverTargetFps);
    j.integer("receiverMaxDecoderQueue", r.receiverMaxDecoderQueue);
    j.integer("receiverThermalStatus", r.receiverThermalStatus);
    j.integer("receiverAvailableMemoryMb", r.receiverAvailableMemoryMb);
    j.boolean("receiverHevcCapable", r.receiverHevcCapable);
    j.str("codec", r.codec);
    j.integer("audioChannels", r.audioChannels);
    j.integer("processId", f.processId);
    j.num("processCpuPercent", f.processCpuPercent);
    j.num("workingSetMiB", f.workingSetMiB);
    j.boolean("gamepadAvailable", f.gamepadAvailable);
    j.str("gamepadMessage", f.gamepadMessage);
    j.str("engineVersion", kEngineVersion);
    j.integer("protocolVersion", kProtocolVersion);
    return j.finish();
}

void writeStatus(const std::filesystem::path& path, const StatusReport& report) {
    if (path.empty()) return;
    // One CPU meter for the whole process: each write reports the share since
    // the previous one, whichever session made it.
    static std::mutex meterLock;
    static CpuShareMeter meter;
    ProcessFigures f;
    f.processId = current_process_id();
    f.workingSetMiB = double(working_set_bytes()) / 1048576.0;
    {
        std::lock_guard<std::mutex> g(meterLock);
        f.processCpuPercent = meter.sample();
    }
    GamepadManager& gamepads = GamepadManager::instance();
    f.gamepadAvailable = gamepads.isAvailable();
    f.gamepadMessage = gamepads.statusMessage();
    atomic_replace_file(path, render_status_json(report, f));
}

}  // namespace zel
