#pragma once

// Byte layouts of the stream protocol between engine and receiver. Every
// multi-byte field is big-endian and every packet opens with a 4-byte tag.
// Builders produce exact packets; parsers return nothing (or false) for
// anything that breaks the receive rules, and never read past their input.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "engine/input/remote_input_event.h"

namespace zel::protocol {

// Capability flag bits (the low byte of the flags field).
inline constexpr uint16_t kFlagWantsAudio = 0x01;
inline constexpr uint16_t kFlagUdp = 0x02;
inline constexpr uint16_t kFlagSeparateAudioPort = 0x04;
inline constexpr uint16_t kFlagHevcCapable = 0x08;
inline constexpr uint16_t kFlagDrawsPointer = 0x10;
inline constexpr uint16_t kFlagSixChannels = 0x20;
inline constexpr uint16_t kFlagEightChannels = 0x40;
inline constexpr uint16_t kFlagRequiresHevc = 0x80;

inline constexpr size_t kCapabilityShortSize = 8;
inline constexpr size_t kCapabilityUdpSize = 20;
inline constexpr size_t kCapabilityUdpAudioSize = 22;
inline constexpr uint16_t kMinDatagram = 576;
inline constexpr uint16_t kMaxDatagram = 1400;

inline constexpr size_t kRefusalSize = 12;
inline constexpr uint8_t kRefusalAuthenticationFailed = 1;
inline constexpr size_t kMetadataSize = 12;
inline constexpr size_t kControlSize = 16;
inline constexpr uint8_t kControlEndSession = 1;
inline constexpr size_t kFrameV1HeaderSize = 12;
inline constexpr size_t kFrameV2HeaderSize = 20;
inline constexpr size_t kAudioHeaderSize = 22;
inline constexpr size_t kMediaHeaderSize = 40;
inline constexpr uint8_t kMediaVideo = 1;
inline constexpr uint8_t kMediaAudio = 2;
inline constexpr uint16_t kMediaKeyFrame = 1;

inline constexpr size_t kFeedbackHeaderSize = 16;
inline constexpr size_t kFeedbackMinSize = 32;
inline constexpr size_t kFeedbackMaxSize = 64;

enum FeedbackType : uint8_t {
    kClockPing = 1,
    kClockReply = 2,
    kKeyFrameRequest = 3,
    kInputEvent = 4,
    kTransportReport = 5,
    kAudioReport = 6,
    kDecoderStarted = 7,
    kReferenceRecovered = 8,
    kReceiverHealth = 9,
};

// "SCAP": what the receiver can do and its token. The fields from videoPort on
// travel only in the version-2 UDP form; audioPort only with a separate port.
struct CapabilityPacket {
    uint16_t version = 2;
    uint16_t flags = 0;
    uint16_t videoPort = 0;
    uint16_t maxDatagram = 0;
    uint64_t token = 0;
    uint16_t audioPort = 0;  // equals videoPort when no separate port was given
};

// The length the packet must have, judged from its first 8 bytes; 0 when
// those already make it invalid (wrong tag, separate audio port without UDP).
size_t capability_packet_length(std::span<const uint8_t> first8);
// The whole packet, validated. Nothing for any breach of the rules.
std::optional<CapabilityPacket> parse_capability_packet(std::span<const uint8_t> packet);
// Builds the packet with the length its version and flags call for; the
// fields are written as given, valid or not, so tests can build bad ones.
std::vector<uint8_t> build_capability_packet(const CapabilityPacket& caps);
bool capability_version2(uint16_t version);
// 8, 6 or 2.
uint8_t receiver_channels(uint16_t flags);

std::array<uint8_t, kRefusalSize> build_refusal(uint8_t code);
// The refusal code of an "SERR" packet; nothing when it is not one.
std::optional<uint8_t> parse_refusal(std::span<const uint8_t> packet);

// "ZEL1" / "ZEL2".
struct StreamMetadata {
    bool versionAtLeast2 = true;
    uint16_t width = 0;
    uint16_t height = 0;
    uint16_t fps = 0;
    uint8_t audioChannels = 0;
    uint8_t codecId = 0;
};
std::array<uint8_t, kMetadataSize> build_metadata(const StreamMetadata& metadata);
std::optional<StreamMetadata> parse_metadata(std::span<const uint8_t> packet);

// "SCTL".
struct ControlPacket {
    uint8_t version = 2;
    uint8_t command = kControlEndSession;
    uint8_t argument = 1;
    uint8_t reserved = 0;
    uint64_t token = 0;
};
std::array<uint8_t, kControlSize> build_control(const ControlPacket& control);
// Nothing unless version 2, command 1, argument 1, reserved 0, token non-zero.
std::optional<ControlPacket> parse_control(std::span<const uint8_t> packet);

// TCP media headers; the payload follows each.
std::array<uint8_t, kFrameV1HeaderSize> build_frame_v1_header(uint32_t sequence,
                                                              uint32_t payloadLength);
std::array<uint8_t, kFrameV2HeaderSize> build_frame_v2_header(uint32_t sequence,
                                                              uint64_t timestampUs,
                                                              uint32_t payloadLength);
std::array<uint8_t, kAudioHeaderSize> build_audio_header(uint32_t sequence, uint64_t timestampUs,
                                                         uint16_t samples, uint32_t payloadLength);

// "SMD2" header.
struct MediaHeader {
    uint8_t mediaType = kMediaVideo;
    uint16_t mediaFlags = 0;
    uint64_t token = 0;
    uint32_t datagramSequence = 0;
    uint32_t frameSequence = 0;
    uint64_t timestampUs = 0;
    uint16_t fragmentIndex = 0;
    uint16_t fragmentCount = 1;
    uint16_t payloadLength = 0;
    uint16_t samples = 0;
};
void write_media_header(uint8_t* out40, const MediaHeader& header);
// A whole datagram: tag, version 2, a known media type, an index below a
// non-zero count and a payload length that matches the datagram's size.
bool parse_media_datagram(std::span<const uint8_t> datagram, MediaHeader& header,
                          std::span<const uint8_t>& payload);

// "SFB2" bodies as the receiver fills them in (raw wire units).
struct TransportReport {
    uint32_t rttUs = 0;
    uint32_t received = 0;
    uint32_t lost = 0;
    uint16_t decoderQueue = 0;
    uint16_t mediaQueue = 0;
    uint64_t timestampUs = 0;
};
struct AudioReport {
    int32_t avSyncUs = 0;
    uint32_t underruns = 0;
    uint32_t samplesPlayed = 0;
    uint32_t samplesBuffered = 0;
    uint64_t timestampUs = 0;
};
struct HealthReport {
    uint32_t fpsMilli = 0;  // measured frame rate x 1000
    uint32_t targetFps = 0;
    uint16_t decoderQueue = 0;
    uint16_t maxDecoderQueue = 0;
    uint32_t lossMilliPercent = 0;  // thousandths of a percent
    uint64_t timestampUs = 0;
    uint32_t thermalStatus = 0;
    uint32_t availableMemoryMb = 0;
    bool extended = false;  // the 48-byte form with thermal status and memory
};
struct InputReport {
    RemoteInputEvent event;  // player holds the wire slot (0 is kept as 0 here)
    uint32_t inputSequence = 0;
    uint64_t timestampUs = 0;
};

// One decoded receiver datagram. Only the part that belongs to type is set.
struct FeedbackMessage {
    uint8_t type = 0;
    uint8_t slot = 0;
    uint64_t token = 0;
    uint64_t pingFree = 0;     // type 1 and 2: bytes 16..23
    uint64_t pingClockUs = 0;  // type 1 and 2: bytes 24..31
    InputReport input;
    TransportReport transport;
    AudioReport audio;
    uint32_t elapsedUs = 0;  // types 7 and 8
    uint64_t eventTimestampUs = 0;
    HealthReport health;
};

// Checks the 16-byte header and the body rules of the message's type against
// the session token. Nothing for anything the engine must discard, including
// a valid header whose body breaks its type's rules.
std::optional<FeedbackMessage> parse_feedback(std::span<const uint8_t> datagram,
                                              uint64_t sessionToken);
// Only the per-kind rules of an input event; slot is the header's slot.
bool input_event_valid(const RemoteInputEvent& wire, uint8_t slot);

std::vector<uint8_t> build_feedback_header(uint8_t type, uint8_t slot, uint64_t token,
                                           size_t totalLength);
std::vector<uint8_t> build_clock_ping(uint64_t token, uint64_t receiverClockUs,
                                      uint64_t freeField = 0);
// The engine's answer: the first 32 bytes of the ping, type 2, hostNowUs at 16.
std::array<uint8_t, 32> build_clock_reply(std::span<const uint8_t> ping, uint64_t hostNowUs);
std::vector<uint8_t> build_key_frame_request(uint64_t token);
std::vector<uint8_t> build_input_event(uint64_t token, const InputReport& input);
std::vector<uint8_t> build_transport_report(uint64_t token, const TransportReport& report);
std::vector<uint8_t> build_audio_report(uint64_t token, const AudioReport& report);
// Types 7 and 8.
std::vector<uint8_t> build_elapsed_report(uint8_t type, uint64_t token, uint32_t elapsedUs,
                                          uint64_t timestampUs);
std::vector<uint8_t> build_health_report(uint64_t token, const HealthReport& report);

}  // namespace zel::protocol
