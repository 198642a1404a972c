#include "tools/receiver/reassembler.h"

namespace zel::receiver {

bool sequence_newer(uint32_t a, uint32_t b) {
    return a != b && uint32_t(a - b) < 0x80000000u;
}

Reassembler::Reassembler(uint16_t maxDatagram)
    : chunk_(maxDatagram > protocol::kMediaHeaderSize ? maxDatagram - protocol::kMediaHeaderSize
                                                      : 1) {}

void Reassembler::dropOlderThan(uint32_t sequence) {
    for (auto it = pending_.begin(); it != pending_.end();) {
        if (sequence_newer(sequence, it->first)) {
            ++superseded_;
            it = pending_.erase(it);
        } else {
            ++it;
        }
    }
}

std::optional<CompletedMedia> Reassembler::add(const protocol::MediaHeader& h,
                                               std::span<const uint8_t> payload) {
    const bool last = h.fragmentIndex + 1 == h.fragmentCount;
    if (payload.size() != h.payloadLength || payload.size() > chunk_ ||
        (!last && payload.size() != chunk_) || h.fragmentIndex >= h.fragmentCount) {
        ++malformed_;
        return std::nullopt;
    }
    if (newestCompleted_ && !sequence_newer(h.frameSequence, *newestCompleted_)) {
        ++late_;
        return std::nullopt;
    }
    auto it = pending_.find(h.frameSequence);
    if (it == pending_.end()) {
        if (pending_.size() >= kMaxPending) {
            // Give up the oldest frame to make room.
            auto oldest = pending_.begin();
            for (auto p = pending_.begin(); p != pending_.end(); ++p) {
                if (sequence_newer(oldest->first, p->first)) oldest = p;
            }
            pending_.erase(oldest);
            ++superseded_;
        }
        it = pending_.emplace(h.frameSequence, Pending{h, {}}).first;
    } else {
        const auto& f = it->second.first;
        if (f.fragmentCount != h.fragmentCount || f.timestampUs != h.timestampUs ||
            f.mediaFlags != h.mediaFlags || f.samples != h.samples) {
            ++malformed_;
            return std::nullopt;
        }
    }
    Pending& frame = it->second;
    if (!frame.fragments
             .emplace(h.fragmentIndex, std::vector<uint8_t>(payload.begin(), payload.end()))
             .second) {
        ++duplicates_;
        return std::nullopt;
    }
    if (frame.fragments.size() < frame.first.fragmentCount) return std::nullopt;

    CompletedMedia done;
    done.mediaType = frame.first.mediaType;
    done.frameSequence = frame.first.frameSequence;
    done.timestampUs = frame.first.timestampUs;
    done.keyFrame = (frame.first.mediaFlags & protocol::kMediaKeyFrame) != 0;
    done.samples = frame.first.samples;
    size_t total = 0;
    for (const auto& [index, bytes] : frame.fragments) total += bytes.size();
    done.data.reserve(total);
    for (const auto& [index, bytes] : frame.fragments) {
        done.data.insert(done.data.end(), bytes.begin(), bytes.end());
    }
    pending_.erase(it);
    newestCompleted_ = done.frameSequence;
    dropOlderThan(done.frameSequence);
    return done;
}

void LossCounter::add(uint32_t sequence) {
    if (!first_) {
        first_ = sequence;
        newest_ = sequence;
        span_ = 1;
        received_ = 1;
        recent_.insert(sequence);
        return;
    }
    if (sequence_newer(sequence, newest_)) {
        span_ += uint32_t(sequence - newest_);
        newest_ = sequence;
    } else if (uint32_t(newest_ - sequence) >= kWindow || sequence_newer(*first_, sequence)) {
        // Too old to tell apart from a duplicate, or from before the start.
        ++duplicates_;
        return;
    }
    if (!recent_.insert(sequence).second) {
        ++duplicates_;
        return;
    }
    ++received_;
    while (!recent_.empty() && uint32_t(newest_ - *recent_.begin()) >= kWindow &&
           uint32_t(newest_ - *recent_.begin()) < 0x80000000u) {
        recent_.erase(recent_.begin());
    }
}

uint64_t LossCounter::lost() const {
    return span_ > received_ ? span_ - received_ : 0;
}

}  // namespace zel::receiver
