#include "host/core/status_view.h"

#include <cmath>

#include "base/text.h"
#include "host/core/json.h"
#include "host/ui/localisation.h"

namespace zel {

namespace {

std::string rounded(double v) {
    return std::to_string(std::llround(v));
}

std::string one_decimal(double v) {
    const long long tenths = std::llround(v * 10);
    return std::to_string(tenths / 10) + "." + std::to_string(std::llabs(tenths % 10));
}

std::string channel_name(int channels) {
    if (channels == 6) return "5.1";
    if (channels == 8) return "7.1";
    return "stereo";
}

}  // namespace

std::string streaming_detail(std::string_view s) {
    const double receiverFps = jsonDouble(s, "receiverFps", 0);
    const int fps = jsonInt(s, "fps", 0);
    const int targetFps = jsonInt(s, "receiverTargetFps", 0);
    std::string line = rounded(receiverFps) + "/" + std::to_string(targetFps > 0 ? targetFps : fps);
    line += " FPS · Streaming ";
    line += std::to_string(jsonInt(s, "width", 0)) + "×" + std::to_string(jsonInt(s, "height", 0));
    line += " · target " + one_decimal(jsonDouble(s, "targetBitrateMbps", 0));
    line += " Mbps · ";
    line += one_decimal(jsonDouble(s, "mediaBitrateMbps", 0)) + " Mbps";
    const std::string backend = jsonString(s, "backend");
    const std::string codec = jsonString(s, "codec");
    if (!backend.empty() || !codec.empty()) {
        line += " · " + backend;
        if (!codec.empty()) line += (backend.empty() ? "" : " ") + codec;
    }
    const std::string device = jsonString(s, "audioDevice");
    line += " · audio ";
    line += device.empty() ? "Default Windows" : device;
    line += " " + channel_name(jsonInt(s, "audioChannels", 2));
    if (jsonString(s, "audioMuted") == "true") line += text("host_message_163");
    if (jsonString(s, "cursorVisible") == "true") line += text("host_detail_22");
    const int queue = jsonInt(s, "receiverMaxDecoderQueue", 0);
    if (queue > 0) line += text("host_detail_23") + std::to_string(queue);
    return line;
}

StatusView status_view(std::string_view s, const PollContext& context) {
    StatusView v;
    if (s.empty()) return v;
    v.state = jsonString(s, "state");
    const std::string message = jsonString(s, "message");
    if (v.state == "error") {
        if (context.receiverTestRunning) v.receiverTestFailure = text("host_message_164");
        v.update = true;
        v.header = "ENGINE ERROR";
        v.detail = message;
    } else if (v.state == "reconnecting") {
        v.update = true;
        v.header = text("host_message_166");
        v.detail = message.empty() ? text("host_message_167") : message;
    } else if (v.state == "ready") {
        if (context.receiverTestRunning) v.receiverTestFailure = text("host_message_168");
        if (!context.startGracePeriod) {
            v.update = true;
            v.header = text("host_message_153");
            v.detail = message.empty() ? text("host_message_169") : message;
        }
    } else if (v.state == "streaming") {
        v.update = true;
        v.streaming = true;
        v.header = text("host_message_161");
        v.detail = streaming_detail(s);
    }
    return v;
}

}  // namespace zel
