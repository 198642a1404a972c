#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "engine/protocol/packets.h"

namespace zel::receiver {

// Splits the engine's TCP byte stream into packets: metadata, refusal and,
// for receivers without UDP, "SFR1", "SFR2" and "SAU1" frames. An unknown
// tag or an absurd payload length makes the stream unusable (failed()).
class TcpStreamParser {
  public:
    enum class Kind { Metadata, Refusal, VideoV1, VideoV2, Audio };
    struct Packet {
        Kind kind = Kind::Metadata;
        std::string tag;  // the packet's four-character tag
        protocol::StreamMetadata metadata;
        uint8_t refusalCode = 0;
        uint32_t sequence = 0;
        uint64_t timestampUs = 0;
        uint16_t samples = 0;
        std::vector<uint8_t> payload;
    };

    void append(std::span<const uint8_t> bytes);
    // The next whole packet, or nothing until more bytes arrive.
    std::optional<Packet> next();
    bool failed() const { return !error_.empty(); }
    const std::string& error() const { return error_; }
    size_t buffered() const { return buffer_.size() - offset_; }

    static constexpr uint32_t kMaxPayload = 64u << 20;

  private:
    std::vector<uint8_t> buffer_;
    size_t offset_ = 0;
    std::string error_;
};

}  // namespace zel::receiver
