#include "tools/receiver/tcp_stream.h"

#include <cstring>

#include "base/bytes.h"

namespace zel::receiver {

void TcpStreamParser::append(std::span<const uint8_t> bytes) {
    if (offset_ > 0 && offset_ == buffer_.size()) {
        buffer_.clear();
        offset_ = 0;
    }
    buffer_.insert(buffer_.end(), bytes.begin(), bytes.end());
}

std::optional<TcpStreamParser::Packet> TcpStreamParser::next() {
    if (failed()) return std::nullopt;
    const size_t available = buffer_.size() - offset_;
    if (available < 4) return std::nullopt;
    const uint8_t* p = buffer_.data() + offset_;
    auto is = [&](const char* tag) { return std::memcmp(p, tag, 4) == 0; };

    Packet packet;
    size_t headerSize = 0;
    uint32_t payloadLength = 0;
    if (is("ZEL1") || is("ZEL2") || is("SERR")) {
        headerSize = 12;
    } else if (is("SFR1")) {
        headerSize = protocol::kFrameV1HeaderSize;
    } else if (is("SFR2")) {
        headerSize = protocol::kFrameV2HeaderSize;
    } else if (is("SAU1")) {
        headerSize = protocol::kAudioHeaderSize;
    } else {
        error_ = "unknown packet tag from engine";
        return std::nullopt;
    }
    if (available < headerSize) return std::nullopt;
    packet.tag.assign(reinterpret_cast<const char*>(p), 4);
    const std::span<const uint8_t> header(p, headerSize);
    if (is("SERR")) {
        packet.kind = Kind::Refusal;
        packet.refusalCode = *protocol::parse_refusal(header);
    } else if (is("ZEL1") || is("ZEL2")) {
        packet.kind = Kind::Metadata;
        packet.metadata = *protocol::parse_metadata(header);
    } else if (is("SFR1")) {
        packet.kind = Kind::VideoV1;
        packet.sequence = get_u32_be(p + 4);
        payloadLength = get_u32_be(p + 8);
    } else if (is("SFR2")) {
        packet.kind = Kind::VideoV2;
        packet.sequence = get_u32_be(p + 4);
        packet.timestampUs = get_u64_be(p + 8);
        payloadLength = get_u32_be(p + 16);
    } else {
        packet.kind = Kind::Audio;
        packet.sequence = get_u32_be(p + 4);
        packet.timestampUs = get_u64_be(p + 8);
        packet.samples = get_u16_be(p + 16);
        payloadLength = get_u32_be(p + 18);
    }
    if (payloadLength > kMaxPayload) {
        error_ = "frame length from engine too large";
        return std::nullopt;
    }
    if (available < headerSize + payloadLength) return std::nullopt;
    packet.payload.assign(p + headerSize, p + headerSize + payloadLength);
    offset_ += headerSize + payloadLength;
    if (offset_ > (1u << 20) && offset_ * 2 > buffer_.size()) {
        buffer_.erase(buffer_.begin(), buffer_.begin() + ptrdiff_t(offset_));
        offset_ = 0;
    }
    return packet;
}

}  // namespace zel::receiver
