#include "engine/protocol/receiver_connection.h"

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <memory>
#include <thread>

#include "base/bytes.h"
#include "base/engine_error.h"

namespace zel {
namespace {

// Winsock needs starting once per process; nothing to do on Linux.
class NetEnvironment : public testing::Environment {
  public:
    void SetUp() override { ASSERT_TRUE(net::startup()); }
    void TearDown() override { net::cleanup(); }
};
const auto* const kNetEnvironment = testing::AddGlobalTestEnvironment(new NetEnvironment);

using Bytes = std::vector<uint8_t>;
using namespace protocol;

constexpr uint64_t kToken = 0x1122334455667788ull;

class FakeClock : public SteadyClock {
  public:
    uint64_t nowNs() const override { return ns; }
    uint64_t ns = 5'000'000'000'000ull;
};

// A connected TCP pair on loopback: the receiver's end and the engine's.
struct TcpPair {
    net::Socket receiver;
    net::Socket engine;
    TcpPair() {
        net::Socket listener = net::tcp_socket();
        EXPECT_TRUE(net::bind(listener, {net::kLoopbackAddress, 0}));
        EXPECT_TRUE(net::listen(listener, 1));
        net::Ipv4Endpoint local;
        EXPECT_TRUE(net::local_endpoint(listener, local));
        receiver = net::tcp_socket();
        EXPECT_TRUE(net::connect(receiver, local, 2000));
        engine = net::accept(listener);
        EXPECT_TRUE(engine.valid());
    }
};

// A UDP socket of the receiver on an ephemeral loopback port.
struct UdpPeer {
    net::Socket socket = net::udp_socket();
    uint16_t port = 0;
    UdpPeer() {
        EXPECT_TRUE(net::bind(socket, {net::kLoopbackAddress, 0}));
        net::set_receive_buffer(socket, 8 << 20);
        net::set_receive_timeout(socket, 2000);
        net::Ipv4Endpoint local;
        EXPECT_TRUE(net::local_endpoint(socket, local));
        port = local.port;
    }
    // One datagram, or nothing after the timeout.
    std::optional<Bytes> receive(net::Ipv4Endpoint* from = nullptr) {
        Bytes data(2048);
        size_t got = 0;
        net::Ipv4Endpoint source;
        if (net::receive_from(socket, data.data(), data.size(), got, source) != net::IoStatus::Ok)
            return std::nullopt;
        data.resize(got);
        if (from) *from = source;
        return data;
    }
    void send(const Bytes& data, net::Ipv4Endpoint to) {
        EXPECT_EQ(net::send_to(socket, data.data(), data.size(), to), net::IoStatus::Ok);
    }
};

void send_bytes(net::Socket& s, const Bytes& data) {
    ASSERT_TRUE(net::send_all(s, data.data(), data.size()));
}

Bytes read_to_end(net::Socket& s) {
    net::set_receive_timeout(s, 2000);
    Bytes all;
    uint8_t buffer[256];
    for (;;) {
        size_t got = 0;
        if (net::receive_some(s, buffer, sizeof buffer, got) != net::IoStatus::Ok) break;
        all.insert(all.end(), buffer, buffer + got);
    }
    return all;
}

std::string handshake_error(ReceiverConnection& connection) {
    try {
        connection.handshake();
    } catch (const EngineError& e) {
        EXPECT_EQ(e.category(), 3);
        return e.message();
    }
    return "";
}

TEST(Handshake, RefusesBrokenCapabilityPacketsWithTheirTexts) {
    struct Case {
        const char* name;
        Bytes sent;
        bool closeAfter;
        const char* error;
    };
    const Case cases[] = {
        {"five bytes then silence",
         {'S', 'C', 'A', 'P', 0},
         false,
         "Receiver closed during capability negotiation"},
        {"five bytes then close",
         {'S', 'C', 'A', 'P', 0},
         true,
         "Receiver closed during capability negotiation"},
        {"wrong tag",
         {'S', 'C', 'A', 'X', 0, 2, 0, 0},
         false,
         "Receiver sent an incomplete capability packet"},
        {"audio port without UDP",
         {'S', 'C', 'A', 'P', 0, 2, 0, 0x84},
         false,
         "Receiver sent an incomplete capability packet"},
        {"22-byte form cut short",
         {'S', 'C', 'A', 'P', 0, 2, 0, 0x06, 1, 2, 5, 0x78},
         true,
         "Receiver sent an incomplete capability packet"},
        {"HEVC needed but not decodable",
         {'S', 'C', 'A', 'P', 0, 2, 0, 0x80},
         false,
         "Receiver sent an invalid capability packet"},
        {"maxDatagram 575", build_capability_packet({2, 0x02, 5000, 575, kToken, 0}), false,
         "Receiver sent an invalid capability packet"},
        {"token 0", build_capability_packet({2, 0x02, 5000, 1400, 0, 0}), false,
         "Receiver sent an invalid capability packet"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TcpPair tcp;
        send_bytes(tcp.receiver, c.sent);
        if (c.closeAfter) tcp.receiver.close();
        ReceiverConnection connection(tcp.engine, 0);
        EXPECT_EQ(handshake_error(connection), c.error);
    }
}

TEST(Handshake, SilentReceiverTimesOut) {
    TcpPair tcp;
    ReceiverConnection connection(tcp.engine, 0);
    EXPECT_EQ(handshake_error(connection), "Receiver handshake timed out before authentication");
}

TEST(Handshake, WrongTokenGetsExactlyTheRefusalThenEndOfStream) {
    for (const Bytes& scap : {build_capability_packet({2, 0x07, 5000, 1400, kToken + 1, 5001}),
                              build_capability_packet({1, 0, 0, 0, 0, 0}),
                              build_capability_packet({2, 0x01, 0, 0, 0, 0})}) {
        TcpPair tcp;
        send_bytes(tcp.receiver, scap);
        ReceiverConnection connection(tcp.engine, kToken);
        EXPECT_EQ(handshake_error(connection),
                  "Receiver authentication failed; check the TV access code");
        EXPECT_EQ(read_to_end(tcp.receiver), (Bytes{'S', 'E', 'R', 'R', 2, 1, 0, 0, 0, 0, 0, 0}));
    }
}

TEST(Handshake, RecordsWhatTheReceiverAnnounced) {
    struct Case {
        const char* name;
        CapabilityPacket caps;
        uint64_t expectedToken;
        bool udp;
        bool ownAudioSocket;
        uint8_t channels;
    };
    const Case cases[] = {
        {"v1 short form", {1, 0, 0, 0, 0, 0}, 0, false, false, 2},
        {"v2 without UDP", {2, kFlagWantsAudio | kFlagSixChannels, 0, 0, 0, 0}, 0, false, false, 6},
        {"v2 UDP, shared port", {2, 0x4B, 6000, 576, kToken, 0}, kToken, true, true, 8},
        {"v2 UDP, own audio port", {2, 0xFF, 6000, 1400, kToken, 6001}, kToken, true, true, 8},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TcpPair tcp;
        send_bytes(tcp.receiver, build_capability_packet(c.caps));
        ReceiverConnection connection(tcp.engine, c.expectedToken);
        ASSERT_EQ(handshake_error(connection), "");
        EXPECT_EQ(connection.versionAtLeast2(), c.caps.version >= 2);
        EXPECT_EQ(connection.flags(), c.caps.flags);
        EXPECT_EQ(connection.udpActive(), c.udp);
        EXPECT_EQ(connection.receiverChannels(), c.channels);
        if (c.udp) {
            EXPECT_EQ(connection.token(), kToken);
            EXPECT_EQ(connection.maxDatagram(), c.caps.maxDatagram);
            EXPECT_EQ(connection.videoDestination(),
                      (net::Ipv4Endpoint{net::kLoopbackAddress, c.caps.videoPort}));
            const uint16_t audioPort =
                (c.caps.flags & kFlagSeparateAudioPort) ? c.caps.audioPort : c.caps.videoPort;
            EXPECT_EQ(connection.audioDestination().port, audioPort);
        } else {
            EXPECT_EQ(connection.token(), 0u);
        }
    }
}

// A session whose receiver listens on real UDP ports.
struct UdpSession {
    TcpPair tcp;
    UdpPeer video;
    UdpPeer audio;
    FakeClock clock;
    std::unique_ptr<ReceiverConnection> connection;

    explicit UdpSession(uint16_t maxDatagram = 1400, uint16_t flags = 0x07) {
        send_bytes(tcp.receiver, build_capability_packet(
                                     {2, flags, video.port, maxDatagram, kToken, audio.port}));
        connection = std::make_unique<ReceiverConnection>(tcp.engine, kToken, clock);
        connection->handshake();
    }

    // Sends one tiny frame so the receiver learns the engine's address.
    net::Ipv4Endpoint engineAddress() {
        EncodedVideoFrame frame{{1, 2, 3}, 0, 0, true, true};
        EXPECT_TRUE(connection->sendVideoFrame(frame));
        net::Ipv4Endpoint from;
        EXPECT_TRUE(video.receive(&from));
        return from;
    }
};

struct Datagram {
    MediaHeader header;
    Bytes payload;
};

std::vector<Datagram> receive_all(UdpPeer& peer, size_t count) {
    std::vector<Datagram> out;
    while (out.size() < count) {
        const auto data = peer.receive();
        if (!data) break;
        Datagram d;
        std::span<const uint8_t> payload;
        EXPECT_TRUE(parse_media_datagram(*data, d.header, payload));
        d.payload.assign(payload.begin(), payload.end());
        out.push_back(std::move(d));
    }
    return out;
}

Bytes pattern(size_t size) {
    Bytes b(size);
    for (size_t i = 0; i < size; ++i) b[i] = uint8_t(i * 7 + i / 251);
    return b;
}

TEST(Transport, KeyFrameIsCutIntoFullChunks) {
    UdpSession s;
    const Bytes data = pattern(100000);
    EncodedVideoFrame frame{data, 41, 123456789, true, true};
    ASSERT_TRUE(s.connection->sendVideoFrame(frame));
    const auto datagrams = receive_all(s.video, 74);
    ASSERT_EQ(datagrams.size(), 74u);
    Bytes joined;
    for (size_t i = 0; i < datagrams.size(); ++i) {
        const auto& h = datagrams[i].header;
        EXPECT_EQ(h.fragmentIndex, i);
        EXPECT_EQ(h.fragmentCount, 74);
        EXPECT_EQ(h.datagramSequence, i);
        EXPECT_EQ(h.frameSequence, 41u);
        EXPECT_EQ(h.timestampUs, 123456789u);
        EXPECT_EQ(h.mediaType, kMediaVideo);
        EXPECT_EQ(h.mediaFlags, kMediaKeyFrame);
        EXPECT_EQ(h.token, kToken);
        EXPECT_EQ(h.payloadLength, i < 73 ? 1360 : 100000 - 73 * 1360);
        joined.insert(joined.end(), datagrams[i].payload.begin(), datagrams[i].payload.end());
    }
    EXPECT_EQ(joined, data);
    EXPECT_EQ(s.connection->videoDatagrams(), 74u);
    EXPECT_EQ(s.connection->videoBytes(), 100000u + 74 * 40);
}

TEST(Transport, FrameOfExactlyOneChunkTravelsInOneDatagram) {
    for (uint16_t maxDatagram : {uint16_t(576), uint16_t(1400)}) {
        UdpSession s(maxDatagram);
        EncodedVideoFrame frame{pattern(maxDatagram - 40u), 1, 2, false, true};
        ASSERT_TRUE(s.connection->sendVideoFrame(frame));
        const auto d = s.video.receive();
        ASSERT_TRUE(d);
        EXPECT_EQ(d->size(), maxDatagram);
        EXPECT_EQ(get_u16_be(d->data() + 34), 1);
        EncodedVideoFrame bigger{pattern(maxDatagram - 39u), 2, 2, false, true};
        ASSERT_TRUE(s.connection->sendVideoFrame(bigger));
        EXPECT_EQ(receive_all(s.video, 2).size(), 2u);
    }
}

TEST(Transport, EmptyOrOversizedPayloadsAreRefusedWithoutSending) {
    UdpSession s(576);
    EXPECT_FALSE(s.connection->sendDatagrams(kMediaVideo, 0, 0, 0, 0, {}));
    const Bytes huge(size_t(65536) * 536, 0);
    EXPECT_FALSE(s.connection->sendDatagrams(kMediaVideo, 0, 0, 0, 0, huge));
    EXPECT_EQ(s.connection->videoDatagrams(), 0u);
}

TEST(Transport, ImpairmentWithholdsEveryTenthNonKeyDatagram) {
    UdpSession s;
    s.connection->setDropInterval(10);
    // Ten frames of ten datagrams each: sequences 0..99.
    for (uint32_t f = 0; f < 10; ++f) {
        ASSERT_TRUE(s.connection->sendVideoFrame({pattern(13600), f, f, false, true}));
    }
    // Key frames are never withheld, whatever their sequence numbers.
    ASSERT_TRUE(s.connection->sendVideoFrame({pattern(13600), 10, 10, true, true}));
    const auto datagrams = receive_all(s.video, 100);
    ASSERT_EQ(datagrams.size(), 100u);
    std::vector<uint32_t> seen;
    for (const auto& d : datagrams) seen.push_back(d.header.datagramSequence);
    std::vector<uint32_t> expected;
    for (uint32_t i = 0; i < 100; ++i) {
        if ((i + 1) % 10 != 0) expected.push_back(i);
    }
    for (uint32_t i = 100; i < 110; ++i) expected.push_back(i);
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(s.connection->droppedDatagrams(), 10u);
    EXPECT_EQ(s.connection->videoDatagrams(), 100u);
}

TEST(Transport, AudioTravelsToItsOwnPortOnlyWhenWanted) {
    EncodedAudioFrame packet{pattern(200), 3, 30000, 480};
    {
        UdpSession s;
        ASSERT_TRUE(s.connection->sendAudioPacket(packet));
        const auto d = receive_all(s.audio, 1);
        ASSERT_EQ(d.size(), 1u);
        EXPECT_EQ(d[0].header.mediaType, kMediaAudio);
        EXPECT_EQ(d[0].header.samples, 480);
        EXPECT_EQ(d[0].header.frameSequence, 3u);
        EXPECT_EQ(d[0].header.timestampUs, 30000u);
        EXPECT_EQ(d[0].payload, packet.data);
        EXPECT_EQ(s.connection->audioBytes(), 240u);
    }
    {
        UdpSession s(1400, kFlagUdp);  // no audio wanted
        ASSERT_TRUE(s.connection->sendAudioPacket(packet));
        net::set_receive_timeout(s.video.socket, 200);
        EXPECT_FALSE(s.video.receive());
        EXPECT_EQ(s.connection->audioBytes(), 0u);
    }
}

TEST(Transport, TcpCarriersForReceiversWithoutUdp) {
    struct Case {
        CapabilityPacket caps;
        Bytes expected;
    };
    const Bytes payload = {0, 0, 0, 1, 0x65};
    const Bytes opus = {0xFC, 0x01};
    const Case cases[] = {
        {{1, 0x01, 0, 0, 0, 0}, {'Z', 'E', 'L', '1', 0, 64, 0, 48, 0, 30, 2, 2, 'S', 'F', 'R',
                                 '1', 0,   0,   0,   5, 0,  0, 0,  5, 0,  0, 0, 1,   0x65}},
        {{2, 0x01, 0, 0, 0, 0},
         {'Z', 'E', 'L', '2', 0,    64,  0,    48,  0,   30, 2, 2,    'S', 'F', 'R', '2',
          0,   0,   0,   5,   0,    0,   0,    0,   0,   0,  0, 9,    0,   0,   0,   5,
          0,   0,   0,   1,   0x65, 'S', 'A',  'U', '1', 0,  0, 0,    7,   0,   0,   0,
          0,   0,   0,   0,   8,    1,   0xE0, 0,   0,   0,  2, 0xFC, 0x01}},
        {{2, 0x00, 0, 0, 0, 0},
         {'Z', 'E', 'L', '2', 0, 64, 0, 48, 0, 30, 2, 2, 'S', 'F', 'R', '2', 0, 0,   0,
          5,   0,   0,   0,   0, 0,  0, 0,  9, 0,  0, 0, 5,   0,   0,   0,   1, 0x65}},
    };
    for (const auto& c : cases) {
        TcpPair tcp;
        send_bytes(tcp.receiver, build_capability_packet(c.caps));
        ReceiverConnection connection(tcp.engine, 0);
        connection.handshake();
        connection.sendMetadata(64, 48, 30, 2, 2);
        ASSERT_TRUE(connection.sendVideoFrame({payload, 5, 9, true, true}));
        ASSERT_TRUE(connection.sendAudioPacket({opus, 7, 8, 480}));
        tcp.engine.close();
        EXPECT_EQ(read_to_end(tcp.receiver), c.expected);
        EXPECT_EQ(connection.videoBytes(), payload.size() + (c.caps.version >= 2 ? 20 : 12));
    }
}

TEST(Poll, ClockPingIsAnsweredAndSetsTheOffset) {
    UdpSession s;
    const auto engine = s.engineAddress();
    s.video.send(build_clock_ping(kToken, 1000, 0xFFFF), engine);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    s.connection->pollReceiver();
    const auto reply = s.video.receive();
    ASSERT_TRUE(reply);
    ASSERT_EQ(reply->size(), 32u);
    EXPECT_EQ((*reply)[5], kClockReply);
    EXPECT_EQ(get_u64_be(reply->data() + 16), s.clock.nowUs());
    EXPECT_EQ(get_u64_be(reply->data() + 24), 1000u);
    EXPECT_TRUE(s.connection->clockValid());
    EXPECT_EQ(s.connection->clockOffsetUs(), int64_t(s.clock.nowUs()) - 1000);

    s.video.send(build_clock_ping(kToken, 0), engine);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    s.connection->pollReceiver();
    EXPECT_TRUE(s.video.receive());
    EXPECT_FALSE(s.connection->clockValid());
}

ReceiverEvents poll_after(UdpSession& s) {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    return s.connection->pollReceiver();
}

Bytes input(uint32_t sequence, uint64_t timestampUs, uint8_t kind = 1, uint8_t slot = 0) {
    return build_input_event(kToken, {{kind, 1, slot, 65, 0, 0}, sequence, timestampUs});
}

TEST(Poll, InputAcceptanceBySequence) {
    UdpSession s;
    const auto engine = s.engineAddress();
    for (uint32_t seq : {5u, 5u, 4u, 6u, 0xFFFFFFFFu, 0u}) s.video.send(input(seq, 1), engine);
    const auto events = poll_after(s);
    // 5 accepted, 5 again and 4 are not newer, 6 is; 0xFFFFFFFF is more than
    // half the space ahead of 6 and so older; 0 after 6 is older too.
    ASSERT_EQ(events.inputEvents.size(), 2u);

    s.video.send(input(0x7FFFFFFF, 1), engine);
    s.video.send(input(0xFFFFFFFE, 1), engine);
    s.video.send(input(0xFFFFFFFF, 1), engine);
    s.video.send(input(0, 1), engine);  // wrapped: newer than 0xFFFFFFFF
    s.video.send(input(1, 1, 5, 0), engine);
    const auto later = poll_after(s);
    ASSERT_EQ(later.inputEvents.size(), 5u);
    EXPECT_EQ(later.inputEvents[4].kind, 5);
    EXPECT_EQ(later.inputEvents[4].player, 1);  // slot 0 of a gamepad event is player 1
    EXPECT_EQ(later.inputEvents[0].player, 0);
}

TEST(Poll, InputAgeWindowWhenTheClockIsKnown) {
    UdpSession s;
    const auto engine = s.engineAddress();
    const uint64_t receiverNow = 700'000'000;
    s.video.send(build_clock_ping(kToken, receiverNow), engine);
    poll_after(s);
    ASSERT_TRUE(s.connection->clockValid());
    struct Case {
        int64_t ageUs;
        bool accepted;
    };
    const Case cases[] = {{0, true},       {250000, true},   {250001, false},
                          {-100000, true}, {-100001, false}, {1, true}};
    uint32_t sequence = 1;
    for (const auto& c : cases) {
        s.video.send(input(sequence++, uint64_t(int64_t(receiverNow) - c.ageUs)), engine);
        EXPECT_EQ(poll_after(s).inputEvents.size(), c.accepted ? 1u : 0u) << c.ageUs;
    }
    s.video.send(input(sequence++, 0), engine);
    EXPECT_TRUE(poll_after(s).inputEvents.empty());
    // The clock moves on; the same receiver time is now 300 ms old.
    s.clock.ns += 300'000'000;
    s.video.send(input(sequence++, receiverNow), engine);
    EXPECT_TRUE(poll_after(s).inputEvents.empty());
}

TEST(Poll, WithoutClockAnyTimestampIsAccepted) {
    UdpSession s;
    const auto engine = s.engineAddress();
    s.video.send(input(1, 0), engine);
    s.video.send(input(2, 12345), engine);
    EXPECT_EQ(poll_after(s).inputEvents.size(), 2u);
}

TEST(Poll, ReportsOfTheTurnKeepTheLastOfEachKind) {
    UdpSession s;
    const auto engine = s.engineAddress();
    s.video.send(build_key_frame_request(kToken), engine);
    s.video.send(build_transport_report(kToken, {100, 10, 1, 0, 0, 1}), engine);
    s.video.send(build_transport_report(kToken, {200, 20, 2, 3, 4, 2}), engine);
    s.video.send(build_audio_report(kToken, {-5, 1, 2, 3, 4}), engine);
    s.video.send(build_elapsed_report(kDecoderStarted, kToken, 1234, 9), engine);
    s.video.send(build_elapsed_report(kReferenceRecovered, kToken, 77, 9), engine);
    s.video.send(build_health_report(kToken, {59500, 60, 1, 3, 1500, 9, 2, 100, true}), engine);
    const auto e = poll_after(s);
    EXPECT_TRUE(e.keyFrameRequested);
    ASSERT_TRUE(e.transport);
    EXPECT_EQ(e.transport->rttUs, 200u);
    EXPECT_EQ(e.transport->lost, 2u);
    EXPECT_EQ(e.transport->mediaQueue, 4);
    ASSERT_TRUE(e.audio);
    EXPECT_EQ(e.audio->avSyncUs, -5);
    EXPECT_EQ(e.decoderStartedUs, 1234u);
    EXPECT_EQ(e.referenceRecoveredUs, 77u);
    ASSERT_TRUE(e.health);
    EXPECT_DOUBLE_EQ(e.health->fps, 59.5);
    EXPECT_DOUBLE_EQ(e.health->lossPercent, 1.5);
    EXPECT_EQ(e.health->availableMemoryMb, 100u);
    const auto next = poll_after(s);
    EXPECT_FALSE(next.keyFrameRequested);
    EXPECT_FALSE(next.transport);
}

TEST(Poll, DatagramsFromAnotherPortOrWithAnotherTokenAreIgnored) {
    UdpSession s;
    const auto engine = s.engineAddress();
    UdpPeer stranger;
    stranger.send(build_key_frame_request(kToken), engine);
    stranger.send(build_clock_ping(kToken, 5), engine);
    s.video.send(build_key_frame_request(kToken + 1), engine);
    s.audio.send(build_key_frame_request(kToken), engine);
    const auto e = poll_after(s);
    EXPECT_FALSE(e.keyFrameRequested);
    EXPECT_FALSE(s.connection->clockValid());
    net::set_receive_timeout(stranger.socket, 100);
    EXPECT_FALSE(stranger.receive());
}

TEST(Poll, OversizedDatagramEndsTheTurnsReading) {
    UdpSession s;
    const auto engine = s.engineAddress();
    Bytes big = build_key_frame_request(kToken);
    big.resize(65);
    s.video.send(big, engine);
    s.video.send(build_key_frame_request(kToken), engine);
    EXPECT_FALSE(poll_after(s).keyFrameRequested);
    EXPECT_TRUE(s.connection->pollReceiver().keyFrameRequested);
}

TEST(Poll, HostileDatagramsNeverInject) {
    UdpSession s;
    const auto engine = s.engineAddress();
    // Every truncation of every valid message, and each with a wrong tag.
    const std::vector<Bytes> valid = {
        input(1, 0), build_transport_report(kToken, {1, 1, 1, 1, 1, 1}),
        build_health_report(kToken, {1, 1, 1, 1, 1, 1, 0, 0, false}),
        build_elapsed_report(kDecoderStarted, kToken, 1, 1), build_key_frame_request(kToken)};
    for (const auto& message : valid) {
        for (size_t n = 1; n < message.size(); ++n) {
            const Bytes cut(message.begin(), message.begin() + ptrdiff_t(n));
            if (n >= 32 && message[5] == kKeyFrameRequest) continue;  // still a valid request
            s.video.send(cut, engine);
        }
        Bytes wrong = message;
        wrong[0] = 'X';
        s.video.send(wrong, engine);
    }
    ReceiverEvents e;
    for (int turn = 0; turn < 5; ++turn) {
        e = poll_after(s);
        EXPECT_TRUE(e.inputEvents.empty());
        EXPECT_FALSE(e.keyFrameRequested);
        EXPECT_FALSE(e.transport);
        EXPECT_FALSE(e.health);
        EXPECT_FALSE(e.decoderStartedUs);
    }
}

TEST(Poll, JunkFloodFromAnotherPortNeitherBlocksNorInjects) {
    UdpSession s;
    const auto engine = s.engineAddress();
    std::atomic<bool> stop{false};
    std::thread flood([&] {
        UdpPeer stranger;
        Bytes junk = input(1, 0);
        uint32_t n = 0;
        while (!stop) {
            junk[16] = uint8_t(n++);
            net::send_to(stranger.socket, junk.data(), junk.size(), engine);
        }
    });
    for (int turn = 0; turn < 50; ++turn) {
        const auto e = s.connection->pollReceiver();
        EXPECT_TRUE(e.inputEvents.empty());
    }
    s.video.send(build_key_frame_request(kToken), engine);
    bool seen = false;
    for (int turn = 0; turn < 200 && !seen; ++turn) {
        seen = s.connection->pollReceiver().keyFrameRequested;
    }
    stop = true;
    flood.join();
    EXPECT_TRUE(seen);
}

TEST(Poll, ControlPacketEndsOnlyWithTheSessionToken) {
    UdpSession s;
    struct Case {
        ControlPacket control;
        bool ends;
    };
    const Case cases[] = {{{2, 1, 1, 0, kToken}, true},
                          {{2, 1, 2, 0, kToken}, false},
                          {{2, 1, 1, 0, kToken + 1}, false}};
    for (const auto& c : cases) {
        const auto packet = build_control(c.control);
        // Split over two turns: the packet is assembled from both reads.
        send_bytes(s.tcp.receiver, Bytes(packet.begin(), packet.begin() + 5));
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        EXPECT_FALSE(s.connection->pollReceiver().endRequested);
        send_bytes(s.tcp.receiver, Bytes(packet.begin() + 5, packet.end()));
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        EXPECT_TRUE(s.connection->isAlive());
        EXPECT_EQ(s.connection->pollReceiver().endRequested, c.ends);
    }
}

TEST(Poll, ControlPacketOverPlainTcpNeverTakesEffect) {
    TcpPair tcp;
    send_bytes(tcp.receiver, build_capability_packet({2, 0, 0, 0, 0, 0}));
    ReceiverConnection connection(tcp.engine, 0);
    connection.handshake();
    const auto packet = build_control({2, 1, 1, 0, kToken});
    send_bytes(tcp.receiver, Bytes(packet.begin(), packet.end()));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_FALSE(connection.pollReceiver().endRequested);
}

TEST(Liveness, ClosedPeerIsNotAlive) {
    TcpPair tcp;
    send_bytes(tcp.receiver, build_capability_packet({1, 0, 0, 0, 0, 0}));
    ReceiverConnection connection(tcp.engine, 0);
    connection.handshake();
    EXPECT_TRUE(connection.isAlive());
    tcp.receiver.close();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_FALSE(connection.isAlive());
}

TEST(Concurrency, AudioOnTheVideoSocketAndVideoFromTwoThreadsStayIntact) {
    // No separate audio port: audio shares the video socket and destination.
    UdpSession s(1400, kFlagUdp | kFlagWantsAudio);
    std::thread audio([&] {
        for (uint32_t i = 0; i < 50; ++i) {
            EXPECT_TRUE(s.connection->sendAudioPacket({pattern(300), i, uint64_t(i) * 10000, 480}));
        }
    });
    for (uint32_t f = 0; f < 10; ++f) {
        ASSERT_TRUE(s.connection->sendVideoFrame({pattern(30000), f, f, true, true}));
    }
    audio.join();
    const auto all = receive_all(s.video, 10 * 23 + 50);
    ASSERT_EQ(all.size(), 280u);
    std::map<uint8_t, uint32_t> nextSequence;
    for (const auto& d : all) {
        EXPECT_EQ(d.header.datagramSequence, nextSequence[d.header.mediaType]++);
        if (d.header.mediaType == kMediaVideo) {
            const size_t offset = size_t(d.header.fragmentIndex) * 1360;
            const Bytes expected = pattern(30000);
            EXPECT_TRUE(std::equal(d.payload.begin(), d.payload.end(),
                                   expected.begin() + ptrdiff_t(offset)));
        }
    }
}

}  // namespace
}  // namespace zel
