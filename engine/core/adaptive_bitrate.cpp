#include "engine/core/adaptive_bitrate.h"

#include <algorithm>

#include "base/text.h"

namespace zel {

namespace {
constexpr uint64_t kSecond = 1'000'000'000ull;

std::string mbps(uint32_t bitsPerSecond) { return format_number(bitsPerSecond / 1'000'000.0); }
}  // namespace

AdaptiveBitrate::AdaptiveBitrate(uint32_t configuredBitrate, bool adaptive, uint64_t sessionStartNs)
    : current_(configuredBitrate),
      max_(configuredBitrate),
      adaptive_(adaptive),
      sessionStartNs_(sessionStartNs),
      lastChangeNs_(sessionStartNs) {}

void AdaptiveBitrate::onTurn(const TurnFeedback& feedback, uint64_t nowNs,
                             const SetBitrate& setBitrate, std::vector<std::string>& log) {
    lossReport_ = false;
    bitrateChanged_ = false;
    if (feedback.transport) {
        const TransportFeedback& t = *feedback.transport;
        const uint64_t total = uint64_t(t.lost) + t.received;
        const double lossPercent = total == 0 ? 0.0 : double(t.lost) * 100.0 / double(total);
        maxLossPercent_ = std::max(maxLossPercent_, lossPercent);
        lossReport_ = t.lost > 0;
        const bool congested = maxLossPercent_ >= 1.0 || t.mediaQueue >= 8 || t.decoderQueue > 2;
        if (congested) {
            ++badStreak_;
            goodStreak_ = 0;
        } else {
            ++goodStreak_;
            badStreak_ = 0;
        }
        if (adaptive_ && nowNs >= sessionStartNs_ + 5 * kSecond &&
            nowNs >= lastChangeNs_ + 3 * kSecond) {
            if (badStreak_ >= 2 && current_ > kFloorBitrate) {
                const uint32_t next =
                    std::max<uint32_t>(kFloorBitrate, uint32_t(uint64_t(current_) * 4 / 5));
                if (setBitrate(next)) {
                    current_ = next;
                    bitrateChanged_ = true;
                    lastChangeNs_ = nowNs;
                    badStreak_ = 0;
                    goodStreak_ = 0;
                    log.push_back("Adaptive bitrate reduced to " + mbps(next) + " Mbps");
                }
            } else if (goodStreak_ >= 15 && current_ < max_) {
                const uint32_t next = uint32_t(std::min<uint64_t>(uint64_t(current_) + 2'000'000, max_));
                if (setBitrate(next)) {
                    current_ = next;
                    bitrateChanged_ = true;
                    lastChangeNs_ = nowNs;
                    goodStreak_ = 0;
                    log.push_back("Adaptive bitrate increased to " + mbps(next) + " Mbps");
                }
            }
        }
    }
    if (feedback.health) {
        const HealthFeedback& h = *feedback.health;
        maxLossPercent_ = std::max(maxLossPercent_, h.lossPercent);
        if (h.thermalStatus >= 2 || (h.availableMemoryMb >= 1 && h.availableMemoryMb <= 127)) {
            badStreak_ = std::max<uint32_t>(badStreak_, 2);
            goodStreak_ = 0;
        }
    }
}

KeyFrameDecision decide_key_frame(uint32_t frameSequence, bool udpTransport, uint32_t fps,
                                  uint8_t visualProfile, bool lossReport, bool bitrateChanged,
                                  bool keyFrameRequested) {
    const bool startupKey = udpTransport ? frameSequence == 0 : frameSequence < 3;
    bool periodicKey = false;
    if (visualProfile == 6) {
        periodicKey = fps != 0 && frameSequence % (fps * 10) == 0;
    } else if (visualProfile >= 1 && visualProfile <= 5) {
        periodicKey = fps != 0 && frameSequence % fps == 0;
    }
    const bool feedback = lossReport || bitrateChanged || keyFrameRequested;
    return {startupKey || periodicKey || feedback, feedback};
}

std::string forced_idr_line(uint32_t sequence, bool keyFrameRequested, bool lossReport,
                            bool bitrateChanged, size_t encodedBytes, bool keyFlag) {
    auto flag = [](bool b) { return b ? "1" : "0"; };
    return "Forced IDR sequence=" + std::to_string(sequence) + " feedback=" + flag(keyFrameRequested) +
           " lossReport=" + flag(lossReport) + " bitrateChange=" + flag(bitrateChanged) +
           " encodedBytes=" + std::to_string(encodedBytes) + " keyFlag=" + flag(keyFlag);
}

}  // namespace zel
