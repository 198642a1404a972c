#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace zel {

inline constexpr uint32_t kFloorBitrate = 3'000'000;

// What one loop turn's receiver reports say to the bitrate rules.
struct TransportFeedback {
    uint32_t received = 0;
    uint32_t lost = 0;
    int64_t decoderQueue = 0;
    int64_t mediaQueue = 0;
};

struct HealthFeedback {
    double lossPercent = 0;
    int64_t thermalStatus = 0;
    int64_t availableMemoryMb = 0;
};

struct TurnFeedback {
    std::optional<TransportFeedback> transport;
    std::optional<HealthFeedback> health;
    bool keyFrameRequested = false;
};

// Steps the encoder's bitrate down on sustained congestion and back up on
// sustained health, and remembers what the key-frame decision needs. One
// object per session; times are steady-clock nanoseconds.
class AdaptiveBitrate {
public:
    // setBitrate asks the encoder; false means it refused and nothing changes.
    using SetBitrate = std::function<bool(uint32_t)>;

    AdaptiveBitrate(uint32_t configuredBitrate, bool adaptive, uint64_t sessionStartNs);

    // Applies one turn's reports. Lines for standard output are appended to log.
    void onTurn(const TurnFeedback& feedback, uint64_t nowNs, const SetBitrate& setBitrate,
                std::vector<std::string>& log);

    uint32_t currentBitrate() const { return current_; }
    bool lossReport() const { return lossReport_; }
    bool bitrateChanged() const { return bitrateChanged_; }
    double maxLossPercent() const { return maxLossPercent_; }
    // Called by every periodic status write.
    void resetIntervalLoss() { maxLossPercent_ = 0; }

private:
    uint32_t current_;
    uint32_t max_;
    bool adaptive_;
    uint64_t sessionStartNs_;
    uint64_t lastChangeNs_;
    uint32_t badStreak_ = 0;
    uint32_t goodStreak_ = 0;
    double maxLossPercent_ = 0;
    bool lossReport_ = false;
    bool bitrateChanged_ = false;
};

// The key-frame rule for one frame. announce is true when the key frame was
// forced by feedback (loss, bitrate change, request), which is reported.
struct KeyFrameDecision {
    bool force = false;
    bool announce = false;
};
KeyFrameDecision decide_key_frame(uint32_t frameSequence, bool udpTransport, uint32_t fps,
                                  uint8_t visualProfile, bool lossReport, bool bitrateChanged,
                                  bool keyFrameRequested);

// "Forced IDR sequence=... feedback=... lossReport=... bitrateChange=...
// encodedBytes=... keyFlag=..."
std::string forced_idr_line(uint32_t sequence, bool keyFrameRequested, bool lossReport,
                            bool bitrateChanged, size_t encodedBytes, bool keyFlag);

}  // namespace zel
