#include "tools/receiver/summary.h"

#include <algorithm>
#include <cmath>

#include "base/text.h"

namespace zel::receiver {

std::optional<double> percentile(std::vector<double> values, double p) {
    if (values.empty()) return std::nullopt;
    std::sort(values.begin(), values.end());
    const double rank = std::ceil(p / 100.0 * double(values.size()));
    const size_t index = rank < 1 ? 0 : std::min(values.size() - 1, size_t(rank) - 1);
    return values[index];
}

namespace {

std::string number(double v) {
    return format_number(v);
}
std::string number(uint64_t v) {
    return std::to_string(v);
}
std::string text(const std::string& v) {
    return "\"" + json_escape(v) + "\"";
}

std::string latency(const std::vector<double>& values) {
    if (values.empty()) return "null";
    return "{\"samples\":" + std::to_string(values.size()) +
           ",\"p50\":" + number(*percentile(values, 50)) +
           ",\"p95\":" + number(*percentile(values, 95)) +
           ",\"p99\":" + number(*percentile(values, 99)) + "}";
}

}  // namespace

std::string summary_json(const ReceiverSummary& s) {
    const double fps = s.durationSeconds > 0 ? double(s.framesDecoded) / s.durationSeconds : 0;
    const double receivedFps =
        s.durationSeconds > 0 ? double(s.framesReceived) / s.durationSeconds : 0;
    const uint64_t videoSpan = s.videoDatagramsReceived + s.videoDatagramsLost;
    const double lossPercent =
        videoSpan ? 100.0 * double(s.videoDatagramsLost) / double(videoSpan) : 0;
    std::string j = "{";
    j += "\"ok\":" + std::string(s.ok ? "true" : "false");
    j += ",\"error\":" + text(s.error);
    j += ",\"endReason\":" + text(s.endReason);
    j += ",\"transport\":" + text(s.transport);
    j += ",\"metadataTag\":" + text(s.metadataTag);
    j += ",\"tcpVideoTag\":" + text(s.tcpVideoTag);
    j += ",\"width\":" + number(uint64_t(s.width));
    j += ",\"height\":" + number(uint64_t(s.height));
    j += ",\"fps\":" + number(uint64_t(s.fps));
    j += ",\"audioChannels\":" + number(uint64_t(s.audioChannels));
    j += ",\"codecId\":" + number(uint64_t(s.codecId));
    j += ",\"durationSeconds\":" + number(s.durationSeconds);
    j += ",\"videoDecoding\":" + std::string(s.videoDecoding ? "true" : "false");
    j += ",\"framesReceived\":" + number(s.framesReceived);
    j += ",\"framesDecoded\":" + number(s.framesDecoded);
    j += ",\"keyFramesReceived\":" + number(s.keyFramesReceived);
    j += ",\"videoBytesReceived\":" + number(s.videoBytesReceived);
    j += ",\"receivedFps\":" + number(receivedFps);
    j += ",\"decodedFps\":" + number(fps);
    j += ",\"framesSuperseded\":" + number(s.framesSuperseded);
    j += ",\"videoDatagramsReceived\":" + number(s.videoDatagramsReceived);
    j += ",\"videoDatagramsLost\":" + number(s.videoDatagramsLost);
    j += ",\"videoLossPercent\":" + number(lossPercent);
    j += ",\"audioDatagramsReceived\":" + number(s.audioDatagramsReceived);
    j += ",\"audioDatagramsLost\":" + number(s.audioDatagramsLost);
    j += ",\"duplicateDatagrams\":" + number(s.duplicateDatagrams);
    j += ",\"audioPackets\":" + number(s.audioPackets);
    j += ",\"audioBytesReceived\":" + number(s.audioBytesReceived);
    j += ",\"audioGaps\":" + number(s.audioGaps);
    j += ",\"audioSamplesDecoded\":" + number(s.audioSamplesDecoded);
    j += ",\"keyFrameRequests\":" + number(s.keyFrameRequests);
    j += ",\"inputEventsSent\":" + number(s.inputEventsSent);
    j += ",\"clockSynced\":" + std::string(s.clockSynced ? "true" : "false");
    j += ",\"clockOffsetUs\":" + std::to_string(s.clockOffsetUs);
    j += ",\"rttMs\":" + (s.rttMs ? number(*s.rttMs) : std::string("null"));
    j += ",\"arrivalLatencyMs\":" + latency(s.arrivalLatencyMs);
    j += ",\"decodeLatencyMs\":" + latency(s.decodeLatencyMs);
    j += ",\"savedFrame\":" + text(s.savedFrame);
    j += ",\"savedAudio\":" + text(s.savedAudio);
    j += "}";
    return j;
}

}  // namespace zel::receiver
