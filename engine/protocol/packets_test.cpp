#include "engine/protocol/packets.h"

#include <gtest/gtest.h>

#include <vector>

namespace zel::protocol {
namespace {

using Bytes = std::vector<uint8_t>;

template <size_t N>
Bytes bytes(const std::array<uint8_t, N>& a) {
    return Bytes(a.begin(), a.end());
}

// 22-byte form: version 2, flags 0x07, video 5000, audio 5001, 1400, token.
const Bytes kScap22 = {'S',  'C', 'A', 'P', 0, 2, 0, 0x07, 0x13, 0x88, 0x05,
                       0x78, 1,   2,   3,   4, 5, 6, 7,    8,    0x13, 0x89};

TEST(CapabilityPacket, ParsesTheHandWrittenFormsAndBuildsThemBack) {
    struct Case {
        Bytes wire;
        CapabilityPacket expected;
    };
    const Case cases[] = {
        {kScap22, {2, 0x07, 5000, 1400, 0x0102030405060708ull, 5001}},
        // 20-byte form: no separate audio port, audio goes to the video port.
        {{'S', 'C', 'A', 'P', 0, 3, 0, 0x0B, 0x13, 0x88, 0x02, 0x40, 0, 0, 0, 0, 0, 0, 0, 9},
         {3, 0x0B, 5000, 576, 9, 5000}},
        // Version 1 short form; the UDP bit means nothing below version 2.
        {{'S', 'C', 'A', 'P', 0, 1, 0, 0x03}, {1, 0x03, 0, 0, 0, 0}},
        // Version 2 without UDP; high flag bits are ignored but kept.
        {{'S', 'C', 'A', 'P', 0, 2, 0xFF, 0x19}, {2, 0xFF19, 0, 0, 0, 0}},
    };
    for (const auto& c : cases) {
        const auto parsed = parse_capability_packet(c.wire);
        ASSERT_TRUE(parsed) << c.wire.size();
        EXPECT_EQ(parsed->version, c.expected.version);
        EXPECT_EQ(parsed->flags, c.expected.flags);
        EXPECT_EQ(parsed->videoPort, c.expected.videoPort);
        EXPECT_EQ(parsed->maxDatagram, c.expected.maxDatagram);
        EXPECT_EQ(parsed->token, c.expected.token);
        EXPECT_EQ(parsed->audioPort, c.expected.audioPort);
        EXPECT_EQ(build_capability_packet(*parsed), c.wire);
    }
}

TEST(CapabilityPacket, RefusesEveryBreachOfTheRules) {
    auto with = [](size_t offset, std::initializer_list<uint8_t> values) {
        Bytes b = kScap22;
        std::copy(values.begin(), values.end(), b.begin() + ptrdiff_t(offset));
        return b;
    };
    const Bytes cases[] = {
        with(0, {'S', 'C', 'A', 'Q'}),
        {'S', 'C', 'A', 'P', 0, 2, 0, 0x84},  // separate audio port without UDP, HEVC-only w/o HEVC
        {'S', 'C', 'A', 'P', 0, 2, 0, 0x80},  // needs HEVC without being able to decode it
        {'S', 'C', 'A', 'P', 0, 1, 0, 0x04},  // audio port bit without UDP, even in version 1
        with(8, {0, 0}),                      // video port 0
        with(20, {0, 0}),                     // audio port 0
        with(12, {0, 0, 0, 0, 0, 0, 0, 0}),   // token 0
        with(10, {0x02, 0x3F}),               // maxDatagram 575
        with(10, {0x05, 0x79}),               // maxDatagram 1401
        Bytes(kScap22.begin(), kScap22.end() - 1),
        [] {
            Bytes b = kScap22;
            b.push_back(0);
            return b;
        }(),
    };
    for (const auto& c : cases)
        EXPECT_FALSE(parse_capability_packet(c)) << testing::PrintToString(c);
}

TEST(CapabilityPacket, LengthComesFromTheFirstEightBytes) {
    EXPECT_EQ(capability_packet_length(Bytes{'S', 'C', 'A', 'P', 0, 2, 0, 0x06}), 22u);
    EXPECT_EQ(capability_packet_length(Bytes{'S', 'C', 'A', 'P', 0, 2, 0, 0x02}), 20u);
    EXPECT_EQ(capability_packet_length(Bytes{'S', 'C', 'A', 'P', 0, 1, 0, 0x02}), 8u);
    EXPECT_EQ(capability_packet_length(Bytes{'S', 'C', 'A', 'P', 0, 2, 0, 0x04}), 0u);
    EXPECT_EQ(capability_packet_length(Bytes{'X', 'C', 'A', 'P', 0, 2, 0, 0x02}), 0u);
    EXPECT_EQ(capability_packet_length(Bytes{'S', 'C', 'A', 'P', 0, 2, 0}), 0u);
}

TEST(CapabilityPacket, MaxDatagramBoundsAreInclusive) {
    for (uint16_t size : {uint16_t(576), uint16_t(1400)}) {
        EXPECT_TRUE(parse_capability_packet(build_capability_packet({2, 0x02, 1, size, 1, 0})));
    }
}

TEST(CapabilityPacket, ChannelCapability) {
    EXPECT_EQ(receiver_channels(0), 2);
    EXPECT_EQ(receiver_channels(kFlagSixChannels), 6);
    EXPECT_EQ(receiver_channels(kFlagEightChannels), 8);
    EXPECT_EQ(receiver_channels(kFlagSixChannels | kFlagEightChannels), 8);
}

TEST(FixedPackets, MatchTheirHandWrittenBytes) {
    EXPECT_EQ(bytes(build_refusal(1)), (Bytes{'S', 'E', 'R', 'R', 2, 1, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(bytes(build_metadata({true, 1920, 1080, 60, 6, 3})),
              (Bytes{'Z', 'E', 'L', '2', 0x07, 0x80, 0x04, 0x38, 0, 60, 6, 3}));
    EXPECT_EQ(bytes(build_metadata({false, 1280, 720, 30, 2, 2})),
              (Bytes{'Z', 'E', 'L', '1', 0x05, 0x00, 0x02, 0xD0, 0, 30, 2, 2}));
    EXPECT_EQ(bytes(build_control({2, 1, 1, 0, 0xA1B2})),
              (Bytes{'S', 'C', 'T', 'L', 2, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0xA1, 0xB2}));
    EXPECT_EQ(bytes(build_frame_v1_header(7, 0x01020304)),
              (Bytes{'S', 'F', 'R', '1', 0, 0, 0, 7, 1, 2, 3, 4}));
    EXPECT_EQ(bytes(build_frame_v2_header(7, 0x1122334455667788ull, 5)),
              (Bytes{'S',  'F',  'R',  '2',  0,    0,    0, 7, 0x11, 0x22,
                     0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0, 0, 0,    5}));
    EXPECT_EQ(bytes(build_audio_header(9, 10000, 480, 123)),
              (Bytes{'S', 'A', 'U', '1',  0,    0,    0,    9, 0, 0, 0,
                     0,   0,   0,   0x27, 0x10, 0x01, 0xE0, 0, 0, 0, 123}));
}

TEST(FixedPackets, ParsersRoundTripAndRefuseEveryTruncation) {
    const auto metadata = bytes(build_metadata({true, 3840, 2160, 120, 8, 3}));
    const auto parsed = parse_metadata(metadata);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->width, 3840);
    EXPECT_EQ(parsed->height, 2160);
    EXPECT_EQ(parsed->fps, 120);
    EXPECT_EQ(parsed->audioChannels, 8);
    EXPECT_EQ(parsed->codecId, 3);
    const auto refusal = bytes(build_refusal(1));
    EXPECT_EQ(parse_refusal(refusal), 1);
    const auto control = bytes(build_control({2, 1, 1, 0, 77}));
    ASSERT_TRUE(parse_control(control));
    for (size_t n = 0; n < 16; ++n) {
        const std::span<const uint8_t> head(control.data(), n);
        EXPECT_FALSE(parse_control(head)) << n;
        if (n < 12) {
            EXPECT_FALSE(parse_metadata(std::span(metadata.data(), n))) << n;
            EXPECT_FALSE(parse_refusal(std::span(refusal.data(), n))) << n;
        }
    }
}

TEST(ControlPacket, TakesEffectOnlyInItsOneValidForm) {
    const ControlPacket invalid[] = {
        {1, 1, 1, 0, 5}, {2, 2, 1, 0, 5}, {2, 1, 2, 0, 5}, {2, 1, 1, 1, 5}, {2, 1, 1, 0, 0}};
    for (const auto& c : invalid) EXPECT_FALSE(parse_control(bytes(build_control(c))));
    Bytes wrongTag = bytes(build_control({2, 1, 1, 0, 5}));
    wrongTag[3] = 'X';
    EXPECT_FALSE(parse_control(wrongTag));
}

TEST(MediaDatagram, HeaderMatchesItsBytesAndChecksItsLength) {
    const Bytes wire = {'S',  'M',  'D',  '2',  2, 1, 0, 1, 0, 0, 0, 0, 0,    0,
                        0x12, 0x34, 0,    0,    0, 5, 0, 0, 0, 9, 0, 0, 0,    0,
                        0,    0,    0x03, 0xE8, 0, 2, 0, 3, 0, 2, 0, 0, 0xAA, 0xBB};
    MediaHeader h;
    h.mediaType = kMediaVideo;
    h.mediaFlags = kMediaKeyFrame;
    h.token = 0x1234;
    h.datagramSequence = 5;
    h.frameSequence = 9;
    h.timestampUs = 1000;
    h.fragmentIndex = 2;
    h.fragmentCount = 3;
    h.payloadLength = 2;
    Bytes built(40);
    write_media_header(built.data(), h);
    EXPECT_EQ(built, Bytes(wire.begin(), wire.begin() + 40));

    MediaHeader parsed;
    std::span<const uint8_t> payload;
    ASSERT_TRUE(parse_media_datagram(wire, parsed, payload));
    EXPECT_EQ(parsed.fragmentIndex, 2);
    EXPECT_EQ(parsed.token, 0x1234u);
    EXPECT_EQ(Bytes(payload.begin(), payload.end()), (Bytes{0xAA, 0xBB}));
    for (size_t n = 0; n < wire.size(); ++n) {
        EXPECT_FALSE(parse_media_datagram(std::span(wire.data(), n), parsed, payload)) << n;
    }
    auto broken = [&](size_t offset, uint8_t value) {
        Bytes b = wire;
        b[offset] = value;
        return !parse_media_datagram(b, parsed, payload);
    };
    EXPECT_TRUE(broken(0, 'X'));
    EXPECT_TRUE(broken(4, 1));   // version
    EXPECT_TRUE(broken(5, 3));   // media type
    EXPECT_TRUE(broken(33, 3));  // index 3 of 3
    EXPECT_TRUE(broken(35, 0));  // count 0
}

constexpr uint64_t kToken = 0x0102030405060708ull;

Bytes feedback(uint8_t type, uint8_t slot, size_t length) {
    return build_feedback_header(type, slot, kToken, length);
}

TEST(Feedback, HeaderRules) {
    const Bytes good = build_key_frame_request(kToken);
    EXPECT_EQ(good, (Bytes{'S', 'F', 'B', '2', 2, 3, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8,
                           0,   0,   0,   0,   0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_TRUE(parse_feedback(good, kToken));
    EXPECT_FALSE(parse_feedback(good, kToken + 1));
    EXPECT_FALSE(parse_feedback(build_key_frame_request(0), 0));
    for (size_t n = 0; n < 32; ++n) EXPECT_FALSE(parse_feedback(std::span(good.data(), n), kToken));
    EXPECT_TRUE(parse_feedback(feedback(3, 0, 64), kToken));
    EXPECT_FALSE(parse_feedback(feedback(3, 0, 65), kToken));
    auto broken = [&](size_t offset, uint8_t value) {
        Bytes b = good;
        b[offset] = value;
        return !parse_feedback(b, kToken);
    };
    EXPECT_TRUE(broken(3, '1'));
    EXPECT_TRUE(broken(4, 1));
    EXPECT_TRUE(broken(5, 0));
    EXPECT_TRUE(broken(5, 10));
    EXPECT_TRUE(broken(6, 5));
    EXPECT_TRUE(broken(7, 1));
}

TEST(Feedback, ClockPingAndReply) {
    const Bytes ping = build_clock_ping(kToken, 0x1111, 0x2222);
    const auto m = parse_feedback(ping, kToken);
    ASSERT_TRUE(m);
    EXPECT_EQ(m->type, kClockPing);
    EXPECT_EQ(m->pingClockUs, 0x1111u);
    const auto reply = build_clock_reply(ping, 0x0A0B0C0D0E0F1011ull);
    Bytes expected = ping;
    expected[5] = 2;
    const Bytes host = {0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F, 0x10, 0x11};
    std::copy(host.begin(), host.end(), expected.begin() + 16);
    EXPECT_EQ(bytes(reply), expected);
}

TEST(Feedback, ReportBodiesAndTheirLengths) {
    TransportReport t{1500, 1000, 3, 2, 9, 77};
    auto transport = build_transport_report(kToken, t);
    EXPECT_EQ(Bytes(transport.begin() + 16, transport.end()),
              (Bytes{0, 0, 0x05, 0xDC, 0, 0, 0x03, 0xE8, 0, 0, 0, 3,
                     0, 2, 0,    9,    0, 0, 0,    0,    0, 0, 0, 77}));
    auto m = parse_feedback(transport, kToken);
    ASSERT_TRUE(m);
    EXPECT_EQ(m->transport.lost, 3u);
    EXPECT_EQ(m->transport.mediaQueue, 9);
    transport.push_back(0);
    EXPECT_FALSE(parse_feedback(transport, kToken));

    auto audio = build_audio_report(kToken, {-2000, 1, 48000, 960, 5});
    m = parse_feedback(audio, kToken);
    ASSERT_TRUE(m);
    EXPECT_EQ(m->audio.avSyncUs, -2000);
    EXPECT_FALSE(parse_feedback(std::span(audio.data(), 32), kToken));

    const auto started = build_elapsed_report(kDecoderStarted, kToken, 250000, 99);
    m = parse_feedback(started, kToken);
    ASSERT_TRUE(m);
    EXPECT_EQ(m->elapsedUs, 250000u);
    EXPECT_FALSE(parse_feedback(build_elapsed_report(kDecoderStarted, kToken, 0, 99), kToken));
    EXPECT_FALSE(parse_feedback(build_elapsed_report(kReferenceRecovered, kToken, 5, 0), kToken));
    Bytes reserved = started;
    reserved[23] = 1;
    EXPECT_FALSE(parse_feedback(reserved, kToken));
    Bytes slotted = started;
    slotted[6] = 1;
    EXPECT_FALSE(parse_feedback(slotted, kToken));
}

TEST(Feedback, HealthReportRules) {
    HealthReport h{59940, 60, 1, 4, 100000, 12, 2, 512, true};
    auto m = parse_feedback(build_health_report(kToken, h), kToken);
    ASSERT_TRUE(m);
    EXPECT_EQ(m->health.thermalStatus, 2u);
    EXPECT_EQ(m->health.availableMemoryMb, 512u);
    h.extended = false;
    m = parse_feedback(build_health_report(kToken, h), kToken);
    ASSERT_TRUE(m);
    EXPECT_EQ(m->health.availableMemoryMb, 0u);
    for (auto change : std::initializer_list<void (*)(HealthReport&)>{
             [](HealthReport& r) { r.targetFps = 0; }, [](HealthReport& r) { r.targetFps = 241; },
             [](HealthReport& r) { r.lossMilliPercent = 100001; },
             [](HealthReport& r) { r.timestampUs = 0; }}) {
        HealthReport bad = h;
        change(bad);
        EXPECT_FALSE(parse_feedback(build_health_report(kToken, bad), kToken));
    }
    EXPECT_FALSE(parse_feedback(feedback(kReceiverHealth, 0, 44), kToken));
}

TEST(Feedback, InputEventWireForm) {
    InputReport in{{7, 1, 0, 3, 65535, 100}, 42, 0x99};
    const Bytes wire = build_input_event(kToken, in);
    EXPECT_EQ(Bytes(wire.begin() + 16, wire.end()),
              (Bytes{7, 1, 0, 3,  0, 0, 0xFF, 0xFF, 0, 0, 0, 100,
                     0, 0, 0, 42, 0, 0, 0,    0,    0, 0, 0, 0x99}));
    const auto m = parse_feedback(wire, kToken);
    ASSERT_TRUE(m);
    EXPECT_EQ(m->input.event, in.event);
    EXPECT_EQ(m->input.inputSequence, 42u);
    EXPECT_FALSE(parse_feedback(std::span(wire.data(), 32), kToken));
}

TEST(Feedback, InputEventPerKindRules) {
    struct Case {
        RemoteInputEvent event;  // player is the wire slot
        bool valid;
    };
    const Case cases[] = {
        {{0, 0, 0, 0, 0, 0}, false},      {{1, 1, 0, 65, 0, 0}, true},
        {{1, 2, 0, 65, 0, 0}, false},     {{1, 1, 1, 65, 0, 0}, false},
        {{2, 2, 0, 0, 10, 10}, true},     {{2, 3, 0, 0, -5, -5}, true},
        {{2, 1, 0, 0, 1, 1}, false},      {{3, 0, 0, 1, 0, 0}, true},
        {{3, 1, 2, 1, 0, 0}, false},      {{4, 1, 0, 3, 0, 0}, true},
        {{5, 1, 4, 1, 0, 0}, true},       {{6, 0, 3, 0, 0, 0}, true},
        {{7, 0, 0, 10, 0, 0}, true},      {{7, 3, 0, 1, 0, 0}, false},
        {{7, 1, 0, 0, 0, 0}, false},      {{7, 1, 0, 11, 0, 0}, false},
        {{7, 1, 0, 0xFFFF, 0, 0}, false}, {{7, 2, 0, 1, 65536, 0}, false},
        {{7, 2, 0, 1, 0, 65536}, false},  {{7, 2, 1, 1, 0, 0}, false},
        {{8, 0, 0, 0, 0, 0}, true},       {{200, 0, 1, 0, 0, 0}, false},
    };
    for (const auto& c : cases) {
        const auto m = parse_feedback(build_input_event(kToken, {c.event, 1, 1}), kToken);
        EXPECT_EQ(bool(m), c.valid) << int(c.event.kind) << "/" << int(c.event.action) << "/"
                                    << int(c.event.player) << "/" << c.event.code;
    }
}

}  // namespace
}  // namespace zel::protocol
