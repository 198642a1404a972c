#include "engine/protocol/packets.h"

#include <cstring>

#include "base/bytes.h"

namespace zel::protocol {

namespace {

bool has_tag(std::span<const uint8_t> p, std::string_view tag) {
    return p.size() >= 4 && std::memcmp(p.data(), tag.data(), 4) == 0;
}

void put_tag(uint8_t* p, std::string_view tag) {
    std::memcpy(p, tag.data(), 4);
}

}  // namespace

bool capability_version2(uint16_t version) {
    return version >= 2;
}

uint8_t receiver_channels(uint16_t flags) {
    if (flags & kFlagEightChannels) return 8;
    if (flags & kFlagSixChannels) return 6;
    return 2;
}

size_t capability_packet_length(std::span<const uint8_t> first8) {
    if (first8.size() < kCapabilityShortSize || !has_tag(first8, "SCAP")) return 0;
    const uint16_t version = get_u16_be(first8.data() + 4);
    const uint16_t flags = get_u16_be(first8.data() + 6);
    if ((flags & kFlagSeparateAudioPort) && !(flags & kFlagUdp)) return 0;
    if (capability_version2(version) && (flags & kFlagUdp)) {
        return (flags & kFlagSeparateAudioPort) ? kCapabilityUdpAudioSize : kCapabilityUdpSize;
    }
    return kCapabilityShortSize;
}

std::optional<CapabilityPacket> parse_capability_packet(std::span<const uint8_t> packet) {
    const size_t length = capability_packet_length(packet);
    if (length == 0 || packet.size() != length) return std::nullopt;
    CapabilityPacket caps;
    caps.version = get_u16_be(packet.data() + 4);
    caps.flags = get_u16_be(packet.data() + 6);
    if ((caps.flags & kFlagRequiresHevc) && !(caps.flags & kFlagHevcCapable)) return std::nullopt;
    if (length == kCapabilityShortSize) return caps;
    caps.videoPort = get_u16_be(packet.data() + 8);
    caps.maxDatagram = get_u16_be(packet.data() + 10);
    caps.token = get_u64_be(packet.data() + 12);
    caps.audioPort =
        length == kCapabilityUdpAudioSize ? get_u16_be(packet.data() + 20) : caps.videoPort;
    if (caps.videoPort == 0 || caps.audioPort == 0 || caps.token == 0) return std::nullopt;
    if (caps.maxDatagram < kMinDatagram || caps.maxDatagram > kMaxDatagram) return std::nullopt;
    return caps;
}

std::vector<uint8_t> build_capability_packet(const CapabilityPacket& caps) {
    ByteWriter w(kCapabilityUdpAudioSize);
    w.tag("SCAP").u16(caps.version).u16(caps.flags);
    if (capability_version2(caps.version) && (caps.flags & kFlagUdp)) {
        w.u16(caps.videoPort).u16(caps.maxDatagram).u64(caps.token);
        if (caps.flags & kFlagSeparateAudioPort) w.u16(caps.audioPort);
    }
    return w.take();
}

std::array<uint8_t, kRefusalSize> build_refusal(uint8_t code) {
    std::array<uint8_t, kRefusalSize> p{};
    put_tag(p.data(), "SERR");
    p[4] = 2;
    p[5] = code;
    return p;
}

std::optional<uint8_t> parse_refusal(std::span<const uint8_t> packet) {
    if (packet.size() != kRefusalSize || !has_tag(packet, "SERR")) return std::nullopt;
    return packet[5];
}

std::array<uint8_t, kMetadataSize> build_metadata(const StreamMetadata& m) {
    std::array<uint8_t, kMetadataSize> p{};
    put_tag(p.data(), m.versionAtLeast2 ? "ZEL2" : "ZEL1");
    put_u16_be(p.data() + 4, m.width);
    put_u16_be(p.data() + 6, m.height);
    put_u16_be(p.data() + 8, m.fps);
    p[10] = m.audioChannels;
    p[11] = m.codecId;
    return p;
}

std::optional<StreamMetadata> parse_metadata(std::span<const uint8_t> packet) {
    if (packet.size() != kMetadataSize) return std::nullopt;
    StreamMetadata m;
    if (has_tag(packet, "ZEL2")) {
        m.versionAtLeast2 = true;
    } else if (has_tag(packet, "ZEL1")) {
        m.versionAtLeast2 = false;
    } else {
        return std::nullopt;
    }
    m.width = get_u16_be(packet.data() + 4);
    m.height = get_u16_be(packet.data() + 6);
    m.fps = get_u16_be(packet.data() + 8);
    m.audioChannels = packet[10];
    m.codecId = packet[11];
    return m;
}

std::array<uint8_t, kControlSize> build_control(const ControlPacket& c) {
    std::array<uint8_t, kControlSize> p{};
    put_tag(p.data(), "SCTL");
    p[4] = c.version;
    p[5] = c.command;
    p[6] = c.argument;
    p[7] = c.reserved;
    put_u64_be(p.data() + 8, c.token);
    return p;
}

std::optional<ControlPacket> parse_control(std::span<const uint8_t> packet) {
    if (packet.size() != kControlSize || !has_tag(packet, "SCTL")) return std::nullopt;
    ControlPacket c;
    c.version = packet[4];
    c.command = packet[5];
    c.argument = packet[6];
    c.reserved = packet[7];
    c.token = get_u64_be(packet.data() + 8);
    if (c.version != 2 || c.command != kControlEndSession || c.argument != 1 || c.reserved != 0 ||
        c.token == 0) {
        return std::nullopt;
    }
    return c;
}

std::array<uint8_t, kFrameV1HeaderSize> build_frame_v1_header(uint32_t sequence,
                                                              uint32_t payloadLength) {
    std::array<uint8_t, kFrameV1HeaderSize> p{};
    put_tag(p.data(), "SFR1");
    put_u32_be(p.data() + 4, sequence);
    put_u32_be(p.data() + 8, payloadLength);
    return p;
}

std::array<uint8_t, kFrameV2HeaderSize> build_frame_v2_header(uint32_t sequence,
                                                              uint64_t timestampUs,
                                                              uint32_t payloadLength) {
    std::array<uint8_t, kFrameV2HeaderSize> p{};
    put_tag(p.data(), "SFR2");
    put_u32_be(p.data() + 4, sequence);
    put_u64_be(p.data() + 8, timestampUs);
    put_u32_be(p.data() + 16, payloadLength);
    return p;
}

std::array<uint8_t, kAudioHeaderSize> build_audio_header(uint32_t sequence, uint64_t timestampUs,
                                                         uint16_t samples, uint32_t payloadLength) {
    std::array<uint8_t, kAudioHeaderSize> p{};
    put_tag(p.data(), "SAU1");
    put_u32_be(p.data() + 4, sequence);
    put_u64_be(p.data() + 8, timestampUs);
    put_u16_be(p.data() + 16, samples);
    put_u32_be(p.data() + 18, payloadLength);
    return p;
}

void write_media_header(uint8_t* p, const MediaHeader& h) {
    put_tag(p, "SMD2");
    p[4] = 2;
    p[5] = h.mediaType;
    put_u16_be(p + 6, h.mediaFlags);
    put_u64_be(p + 8, h.token);
    put_u32_be(p + 16, h.datagramSequence);
    put_u32_be(p + 20, h.frameSequence);
    put_u64_be(p + 24, h.timestampUs);
    put_u16_be(p + 32, h.fragmentIndex);
    put_u16_be(p + 34, h.fragmentCount);
    put_u16_be(p + 36, h.payloadLength);
    put_u16_be(p + 38, h.samples);
}

bool parse_media_datagram(std::span<const uint8_t> d, MediaHeader& h,
                          std::span<const uint8_t>& payload) {
    if (d.size() < kMediaHeaderSize || !has_tag(d, "SMD2") || d[4] != 2) return false;
    MediaHeader r;
    r.mediaType = d[5];
    r.mediaFlags = get_u16_be(d.data() + 6);
    r.token = get_u64_be(d.data() + 8);
    r.datagramSequence = get_u32_be(d.data() + 16);
    r.frameSequence = get_u32_be(d.data() + 20);
    r.timestampUs = get_u64_be(d.data() + 24);
    r.fragmentIndex = get_u16_be(d.data() + 32);
    r.fragmentCount = get_u16_be(d.data() + 34);
    r.payloadLength = get_u16_be(d.data() + 36);
    r.samples = get_u16_be(d.data() + 38);
    if (r.mediaType != kMediaVideo && r.mediaType != kMediaAudio) return false;
    if (r.fragmentCount == 0 || r.fragmentIndex >= r.fragmentCount) return false;
    if (size_t(r.payloadLength) != d.size() - kMediaHeaderSize) return false;
    h = r;
    payload = d.subspan(kMediaHeaderSize);
    return true;
}

bool input_event_valid(const RemoteInputEvent& e, uint8_t slot) {
    switch (e.kind) {
        case 0:
            return false;
        case 1:
        case 3:
            return e.action <= 1 && slot == 0;
        case 2:
            return (e.action == 2 || e.action == 3) && slot == 0;
        case 4:
        case 5:
        case 6:
            return slot <= 4;
        case 7: {
            const int16_t contact = int16_t(e.code);
            return e.action <= 2 && contact >= 1 && contact <= 10 && e.x <= 65535 && e.y <= 65535 &&
                   slot == 0;
        }
        default:
            return slot == 0;
    }
}

std::optional<FeedbackMessage> parse_feedback(std::span<const uint8_t> d, uint64_t sessionToken) {
    if (d.size() < kFeedbackMinSize || d.size() > kFeedbackMaxSize) return std::nullopt;
    if (!has_tag(d, "SFB2") || d[4] != 2) return std::nullopt;
    FeedbackMessage m;
    m.type = d[5];
    m.slot = d[6];
    m.token = get_u64_be(d.data() + 8);
    if (m.type < 1 || m.type > 9 || m.slot > 4 || d[7] != 0) return std::nullopt;
    if (m.token == 0 || m.token != sessionToken) return std::nullopt;
    const uint8_t* p = d.data();
    switch (m.type) {
        case kClockPing:
        case kClockReply:
            m.pingFree = get_u64_be(p + 16);
            m.pingClockUs = get_u64_be(p + 24);
            break;
        case kKeyFrameRequest:
            break;
        case kInputEvent: {
            if (d.size() < 40) return std::nullopt;
            RemoteInputEvent& e = m.input.event;
            e.kind = p[16];
            e.action = p[17];
            e.code = get_u16_be(p + 18);
            e.x = int32_t(get_u32_be(p + 20));
            e.y = int32_t(get_u32_be(p + 24));
            e.player = m.slot;
            m.input.inputSequence = get_u32_be(p + 28);
            m.input.timestampUs = get_u64_be(p + 32);
            if (!input_event_valid(e, m.slot)) return std::nullopt;
            break;
        }
        case kTransportReport:
            if (d.size() != 40) return std::nullopt;
            m.transport.rttUs = get_u32_be(p + 16);
            m.transport.received = get_u32_be(p + 20);
            m.transport.lost = get_u32_be(p + 24);
            m.transport.decoderQueue = get_u16_be(p + 28);
            m.transport.mediaQueue = get_u16_be(p + 30);
            m.transport.timestampUs = get_u64_be(p + 32);
            break;
        case kAudioReport:
            if (d.size() != 40) return std::nullopt;
            m.audio.avSyncUs = int32_t(get_u32_be(p + 16));
            m.audio.underruns = get_u32_be(p + 20);
            m.audio.samplesPlayed = get_u32_be(p + 24);
            m.audio.samplesBuffered = get_u32_be(p + 28);
            m.audio.timestampUs = get_u64_be(p + 32);
            break;
        case kDecoderStarted:
        case kReferenceRecovered:
            if (d.size() != 32 || m.slot != 0) return std::nullopt;
            m.elapsedUs = get_u32_be(p + 16);
            m.eventTimestampUs = get_u64_be(p + 24);
            if (m.elapsedUs == 0 || get_u32_be(p + 20) != 0 || m.eventTimestampUs == 0) {
                return std::nullopt;
            }
            break;
        case kReceiverHealth: {
            if ((d.size() != 40 && d.size() != 48) || m.slot != 0) return std::nullopt;
            HealthReport& h = m.health;
            h.fpsMilli = get_u32_be(p + 16);
            h.targetFps = get_u32_be(p + 20);
            h.decoderQueue = get_u16_be(p + 24);
            h.maxDecoderQueue = get_u16_be(p + 26);
            h.lossMilliPercent = get_u32_be(p + 28);
            h.timestampUs = get_u64_be(p + 32);
            h.extended = d.size() == 48;
            if (h.extended) {
                h.thermalStatus = get_u32_be(p + 40);
                h.availableMemoryMb = get_u32_be(p + 44);
            }
            if (h.targetFps < 1 || h.targetFps > 240 || h.lossMilliPercent > 100000 ||
                h.timestampUs == 0) {
                return std::nullopt;
            }
            break;
        }
    }
    return m;
}

std::vector<uint8_t> build_feedback_header(uint8_t type, uint8_t slot, uint64_t token,
                                           size_t totalLength) {
    std::vector<uint8_t> p(totalLength < kFeedbackHeaderSize ? kFeedbackHeaderSize : totalLength);
    put_tag(p.data(), "SFB2");
    p[4] = 2;
    p[5] = type;
    p[6] = slot;
    put_u64_be(p.data() + 8, token);
    return p;
}

std::vector<uint8_t> build_clock_ping(uint64_t token, uint64_t receiverClockUs,
                                      uint64_t freeField) {
    auto p = build_feedback_header(kClockPing, 0, token, 32);
    put_u64_be(p.data() + 16, freeField);
    put_u64_be(p.data() + 24, receiverClockUs);
    return p;
}

std::array<uint8_t, 32> build_clock_reply(std::span<const uint8_t> ping, uint64_t hostNowUs) {
    std::array<uint8_t, 32> r{};
    std::memcpy(r.data(), ping.data(), ping.size() < 32 ? ping.size() : 32);
    r[5] = kClockReply;
    put_u64_be(r.data() + 16, hostNowUs);
    return r;
}

std::vector<uint8_t> build_key_frame_request(uint64_t token) {
    return build_feedback_header(kKeyFrameRequest, 0, token, 32);
}

std::vector<uint8_t> build_input_event(uint64_t token, const InputReport& in) {
    auto p = build_feedback_header(kInputEvent, in.event.player, token, 40);
    p[16] = in.event.kind;
    p[17] = in.event.action;
    put_u16_be(p.data() + 18, in.event.code);
    put_u32_be(p.data() + 20, uint32_t(in.event.x));
    put_u32_be(p.data() + 24, uint32_t(in.event.y));
    put_u32_be(p.data() + 28, in.inputSequence);
    put_u64_be(p.data() + 32, in.timestampUs);
    return p;
}

std::vector<uint8_t> build_transport_report(uint64_t token, const TransportReport& r) {
    auto p = build_feedback_header(kTransportReport, 0, token, 40);
    put_u32_be(p.data() + 16, r.rttUs);
    put_u32_be(p.data() + 20, r.received);
    put_u32_be(p.data() + 24, r.lost);
    put_u16_be(p.data() + 28, r.decoderQueue);
    put_u16_be(p.data() + 30, r.mediaQueue);
    put_u64_be(p.data() + 32, r.timestampUs);
    return p;
}

std::vector<uint8_t> build_audio_report(uint64_t token, const AudioReport& r) {
    auto p = build_feedback_header(kAudioReport, 0, token, 40);
    put_u32_be(p.data() + 16, uint32_t(r.avSyncUs));
    put_u32_be(p.data() + 20, r.underruns);
    put_u32_be(p.data() + 24, r.samplesPlayed);
    put_u32_be(p.data() + 28, r.samplesBuffered);
    put_u64_be(p.data() + 32, r.timestampUs);
    return p;
}

std::vector<uint8_t> build_elapsed_report(uint8_t type, uint64_t token, uint32_t elapsedUs,
                                          uint64_t timestampUs) {
    auto p = build_feedback_header(type, 0, token, 32);
    put_u32_be(p.data() + 16, elapsedUs);
    put_u64_be(p.data() + 24, timestampUs);
    return p;
}

std::vector<uint8_t> build_health_report(uint64_t token, const HealthReport& r) {
    auto p = build_feedback_header(kReceiverHealth, 0, token, r.extended ? 48 : 40);
    put_u32_be(p.data() + 16, r.fpsMilli);
    put_u32_be(p.data() + 20, r.targetFps);
    put_u16_be(p.data() + 24, r.decoderQueue);
    put_u16_be(p.data() + 26, r.maxDecoderQueue);
    put_u32_be(p.data() + 28, r.lossMilliPercent);
    put_u64_be(p.data() + 32, r.timestampUs);
    if (r.extended) {
        put_u32_be(p.data() + 40, r.thermalStatus);
        put_u32_be(p.data() + 44, r.availableMemoryMb);
    }
    return p;
}

}  // namespace zel::protocol
