#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <span>
#include <vector>

#include "engine/protocol/packets.h"

namespace zel::receiver {

// One frame or audio packet put back together from its datagrams.
struct CompletedMedia {
    uint8_t mediaType = 0;
    uint32_t frameSequence = 0;
    uint64_t timestampUs = 0;
    bool keyFrame = false;
    uint16_t samples = 0;
    std::vector<uint8_t> data;
};

// Reassembles the "SMD2" fragments of one media type. Fragments may come in
// any order, twice, or never; a frame that is still incomplete when a newer
// one completes is given up (superseded), and fragments of frames older than
// the newest completed one are late and dropped. Memory stays bounded: at
// most kMaxPending frames are held, and each only as large as what arrived.
class Reassembler {
  public:
    explicit Reassembler(uint16_t maxDatagram);

    std::optional<CompletedMedia> add(const protocol::MediaHeader& header,
                                      std::span<const uint8_t> payload);

    size_t pending() const { return pending_.size(); }
    uint64_t superseded() const { return superseded_; }
    uint64_t duplicates() const { return duplicates_; }
    uint64_t late() const { return late_; }
    uint64_t malformed() const { return malformed_; }

    static constexpr size_t kMaxPending = 16;

  private:
    struct Pending {
        protocol::MediaHeader first;
        std::map<uint16_t, std::vector<uint8_t>> fragments;
    };
    void dropOlderThan(uint32_t sequence);

    size_t chunk_;
    std::map<uint32_t, Pending> pending_;  // by frame sequence
    std::optional<uint32_t> newestCompleted_;
    uint64_t superseded_ = 0;
    uint64_t duplicates_ = 0;
    uint64_t late_ = 0;
    uint64_t malformed_ = 0;
};

// True when a is newer than b in 32-bit serial-number order.
bool sequence_newer(uint32_t a, uint32_t b);

// Counts datagrams from their per-media datagramSequence: every number between
// the first and the newest seen that has not arrived is lost. Duplicates are
// recognised within a window behind the newest number.
class LossCounter {
  public:
    void add(uint32_t sequence);
    uint64_t received() const { return received_; }
    uint64_t lost() const;
    uint64_t duplicates() const { return duplicates_; }

  private:
    static constexpr uint32_t kWindow = 8192;
    std::optional<uint32_t> first_;
    uint32_t newest_ = 0;
    uint64_t span_ = 0;  // newest - first + 1, in datagrams
    uint64_t received_ = 0;
    uint64_t duplicates_ = 0;
    std::set<uint32_t> recent_;
};

}  // namespace zel::receiver
