#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zel::receiver {

// Nearest-rank percentile (p in 0..100) of the values; nothing when empty.
std::optional<double> percentile(std::vector<double> values, double p);

// Everything the receiver prints when it ends.
struct ReceiverSummary {
    bool ok = false;
    std::string error;      // why it failed; empty when ok
    std::string endReason;  // "control", "engine-closed", "duration", ...
    std::string transport;  // "udp" or "tcp"
    std::string metadataTag;  // "ZEL1" or "ZEL2"
    std::string tcpVideoTag;  // "SFR1" or "SFR2" when video came over TCP
    uint16_t width = 0, height = 0, fps = 0;
    uint8_t audioChannels = 0, codecId = 0;
    double durationSeconds = 0;
    uint64_t framesReceived = 0;
    uint64_t videoBytesReceived = 0;
    uint64_t framesDecoded = 0;
    uint64_t keyFramesReceived = 0;
    uint64_t framesSuperseded = 0;
    uint64_t videoDatagramsReceived = 0;
    uint64_t videoDatagramsLost = 0;
    uint64_t audioDatagramsReceived = 0;
    uint64_t audioDatagramsLost = 0;
    uint64_t duplicateDatagrams = 0;
    uint64_t audioPackets = 0;
    uint64_t audioBytesReceived = 0;
    uint64_t audioGaps = 0;  // jumps in the audio sequence
    uint64_t audioSamplesDecoded = 0;
    uint64_t keyFrameRequests = 0;
    uint64_t inputEventsSent = 0;
    bool clockSynced = false;
    int64_t clockOffsetUs = 0;
    std::optional<double> rttMs;
    std::vector<double> arrivalLatencyMs;  // capture to complete arrival
    std::vector<double> decodeLatencyMs;   // capture to decoded picture
    std::string savedFrame;
    std::string savedAudio;
    bool videoDecoding = true;  // false where this build has no video decoder
};

std::string summary_json(const ReceiverSummary& summary);

}  // namespace zel::receiver
