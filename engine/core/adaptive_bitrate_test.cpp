#include <gtest/gtest.h>

#include "engine/core/adaptive_bitrate.h"

namespace zel {
namespace {

constexpr uint64_t kS = 1'000'000'000ull;

struct Harness {
    explicit Harness(uint32_t mbps, bool adaptive = true) : abr(mbps * 1'000'000u, adaptive, 0) {}
    AdaptiveBitrate abr;
    std::vector<std::string> log;
    std::vector<uint32_t> requests;
    bool accept = true;

    void report(uint64_t atNs, uint32_t received, uint32_t lost, int64_t decoderQ = 0,
                int64_t mediaQ = 0) {
        TurnFeedback f;
        f.transport = TransportFeedback{received, lost, decoderQ, mediaQ};
        abr.onTurn(f, atNs, [&](uint32_t b) {
            requests.push_back(b);
            return accept;
        }, log);
    }
    void congested(uint64_t atNs) { report(atNs, 100, 0, 0, 8); }
    void healthy(uint64_t atNs) { report(atNs, 100, 0); }
};

TEST(AdaptiveBitrate, StepsDownByFourFifthsToTheFloor) {
    Harness h(20);
    const uint32_t expected[] = {16000000, 12800000, 10240000, 8192000, 6553600,
                                 5242880,  4194304,  3355443,  3000000};
    uint64_t t = 6 * kS;
    for (const uint32_t next : expected) {
        const uint32_t before = h.abr.currentBitrate();
        h.congested(t);
        EXPECT_EQ(h.abr.currentBitrate(), before) << "one congested report is not a streak";
        h.congested(t);
        EXPECT_EQ(h.abr.currentBitrate(), next);
        EXPECT_TRUE(h.abr.bitrateChanged());
        t += 3 * kS;
    }
    const size_t calls = h.requests.size();
    for (int i = 0; i < 5; ++i, t += 3 * kS) h.congested(t);
    EXPECT_EQ(h.abr.currentBitrate(), 3000000u);
    EXPECT_EQ(h.requests.size(), calls) << "no step below the floor";
    EXPECT_EQ(h.log[0], "Adaptive bitrate reduced to 16 Mbps");
    EXPECT_EQ(h.log[1], "Adaptive bitrate reduced to 12.8 Mbps");
    EXPECT_EQ(h.log[7], "Adaptive bitrate reduced to 3.35544 Mbps");
}

TEST(AdaptiveBitrate, GuardsAndRefusals) {
    Harness early(20);
    early.congested(4 * kS);
    early.congested(4 * kS + 1);
    EXPECT_EQ(early.abr.currentBitrate(), 20000000u) << "nothing in the first 5 s";
    early.congested(5 * kS);
    EXPECT_EQ(early.abr.currentBitrate(), 16000000u);
    early.congested(7 * kS);
    early.congested(7 * kS + 1);
    EXPECT_EQ(early.abr.currentBitrate(), 16000000u) << "3 s since the last change";

    Harness refused(20);
    refused.accept = false;
    refused.congested(6 * kS);
    refused.congested(6 * kS);
    EXPECT_EQ(refused.abr.currentBitrate(), 20000000u);
    EXPECT_FALSE(refused.abr.bitrateChanged());
    refused.accept = true;
    refused.congested(6 * kS + 1);
    EXPECT_EQ(refused.abr.currentBitrate(), 16000000u) << "the next report tries again";

    Harness fixed(20, false);
    for (int i = 0; i < 10; ++i) fixed.report(10 * kS, 90, 10);
    EXPECT_TRUE(fixed.requests.empty());
    EXPECT_TRUE(fixed.abr.lossReport());

    Harness low(2);
    for (int i = 0; i < 40; ++i) low.congested(10 * kS + i * 4 * kS);
    for (int i = 0; i < 40; ++i) low.healthy(400 * kS + i * kS);
    EXPECT_TRUE(low.requests.empty()) << "below the floor and at the ceiling";
}

TEST(AdaptiveBitrate, StepsUpAfterFifteenHealthyReports) {
    Harness h(20);
    h.congested(6 * kS);
    h.congested(6 * kS);
    h.congested(9 * kS);
    h.congested(9 * kS);
    h.congested(12 * kS);
    h.congested(12 * kS);
    h.abr.resetIntervalLoss();
    ASSERT_EQ(h.abr.currentBitrate(), 10240000u);
    uint64_t t = 15 * kS;
    for (int i = 0; i < 14; ++i) h.healthy(t);
    EXPECT_EQ(h.abr.currentBitrate(), 10240000u);
    h.healthy(t);
    EXPECT_EQ(h.abr.currentBitrate(), 12240000u);
    EXPECT_EQ(h.log.back(), "Adaptive bitrate increased to 12.24 Mbps");
    for (int round = 0; round < 6; ++round) {
        t += 3 * kS;
        for (int i = 0; i < 15; ++i) h.healthy(t);
    }
    EXPECT_EQ(h.abr.currentBitrate(), 20000000u) << "capped at the configured ceiling";
}

TEST(AdaptiveBitrate, OneLossyReportMakesTheIntervalCongested) {
    Harness h(20);
    h.report(10 * kS, 99, 1);
    EXPECT_TRUE(h.abr.lossReport());
    EXPECT_DOUBLE_EQ(h.abr.maxLossPercent(), 1.0);
    EXPECT_TRUE(h.requests.empty());
    h.report(10 * kS, 100, 0);
    EXPECT_FALSE(h.abr.lossReport());
    EXPECT_EQ(h.abr.currentBitrate(), 16000000u) << "the interval's 1 % still counts";
}

TEST(AdaptiveBitrate, HealthReportPrimesTheStreak) {
    for (const auto& health : {HealthFeedback{0, 2, 0}, HealthFeedback{0, 0, 100}}) {
        Harness h(20);
        TurnFeedback f;
        f.health = health;
        h.abr.onTurn(f, 10 * kS, [](uint32_t) { return true; }, h.log);
        h.congested(10 * kS);
        EXPECT_EQ(h.abr.currentBitrate(), 16000000u);
    }
    Harness fine(20);
    TurnFeedback f;
    f.health = HealthFeedback{0, 1, 0};  // 0 MB means "not reported"
    fine.abr.onTurn(f, 10 * kS, [](uint32_t) { return true; }, fine.log);
    fine.congested(10 * kS);
    EXPECT_EQ(fine.abr.currentBitrate(), 20000000u);
}

TEST(KeyFrames, DecisionTable) {
    struct Case {
        uint32_t seq;
        bool udp;
        uint32_t fps;
        uint8_t profile;
        bool loss, changed, requested;
        bool force, announce;
    } cases[] = {
        {0, true, 60, 7, false, false, false, true, false},
        {1, true, 60, 7, false, false, false, false, false},
        {2, false, 60, 7, false, false, false, true, false},
        {3, false, 60, 7, false, false, false, false, false},
        {600, true, 60, 7, false, false, false, false, false},
        {600, true, 60, 6, false, false, false, true, false},
        {60, true, 60, 6, false, false, false, false, false},
        {60, true, 60, 1, false, false, false, true, false},
        {61, true, 60, 5, false, false, false, false, false},
        {9, true, 60, 7, true, false, false, true, true},
        {9, true, 60, 7, false, true, false, true, true},
        {9, true, 60, 7, false, false, true, true, true},
        {0, true, 60, 7, false, false, true, true, true},
    };
    for (const auto& c : cases) {
        const auto d = decide_key_frame(c.seq, c.udp, c.fps, c.profile, c.loss, c.changed, c.requested);
        EXPECT_EQ(d.force, c.force) << c.seq << " profile " << int(c.profile);
        EXPECT_EQ(d.announce, c.announce) << c.seq;
    }
    EXPECT_EQ(forced_idr_line(42, true, false, false, 1234, true),
              "Forced IDR sequence=42 feedback=1 lossReport=0 bitrateChange=0 encodedBytes=1234 "
              "keyFlag=1");
}

}  // namespace
}  // namespace zel
