#include "tools/receiver/receiver_client.h"

#include <algorithm>
#include <memory>
#include <optional>

#include "base/bytes.h"
#include "base/clock.h"
#include "base/fs.h"
#include "engine/protocol/packets.h"
#include "tools/receiver/media_files.h"
#include "tools/receiver/reassembler.h"
#include "tools/receiver/tcp_stream.h"

namespace zel::receiver {

namespace {

using namespace protocol;

constexpr int kHealthIntervalMs = 2000;
constexpr uint64_t kEndGraceUs = 3'000'000;
constexpr uint64_t kKeyFrameRequestGapUs = 200'000;

// Whether an Annex-B access unit holds an IDR picture (H.264 type 5, HEVC
// types 16..21); used where the carrier has no key-frame flag.
bool holds_idr(std::span<const uint8_t> au, uint8_t codecId) {
    for (size_t i = 0; i + 3 < au.size(); ++i) {
        if (au[i] != 0 || au[i + 1] != 0 || au[i + 2] != 1) continue;
        const uint8_t header = au[i + 3];
        if (codecId == 3) {
            const int type = (header >> 1) & 0x3F;
            if (type >= 16 && type <= 21) return true;
        } else if ((header & 0x1F) == 5) {
            return true;
        }
    }
    return false;
}

struct Failure {
    int kind;  // 2 refused, 3 connection
    std::string message;
};

class Session {
  public:
    explicit Session(const ReceiverOptions& o)
        : o_(o), videoReassembler_(o.maxDatagram), audioReassembler_(o.maxDatagram) {}

    ReceiverSummary run() {
        try {
            connect();
            waitForMetadata();
            stream();
            s_.ok = s_.error.empty();
        } catch (const Failure& f) {
            s_.ok = false;
            s_.error = f.message;
            refused_ = f.kind == 2;
        }
        finish();
        return s_;
    }

    bool refused() const { return refused_; }

  private:
    uint64_t now() const { return steady_now_us(); }

    void connect() {
        udp_ = o_.version >= 2 && (o_.flags & kFlagUdp);
        s_.transport = udp_ ? "udp" : "tcp";
        tcp_ = net::tcp_socket();
        if (!tcp_.valid() || !net::connect(tcp_, o_.engine, o_.connectTimeoutMs)) {
            throw Failure{3, "cannot connect to the engine at " +
                                 net::format_ipv4(o_.engine.address) + ":" +
                                 std::to_string(o_.engine.port)};
        }
        net::set_tcp_nodelay(tcp_, true);
        CapabilityPacket caps{o_.version, o_.flags, 0, o_.maxDatagram, o_.token, 0};
        if (udp_) {
            video_ = openUdp(o_.videoPort, caps.videoPort);
            if (o_.flags & kFlagSeparateAudioPort) audio_ = openUdp(o_.audioPort, caps.audioPort);
            if (caps.token == 0) caps.token = 1;  // the UDP form needs one; any passes without auth
            token_ = caps.token;
        } else {
            token_ = o_.token;
        }
        const auto packet = build_capability_packet(caps);
        startUs_ = now();
        if (!net::send_all(tcp_, packet.data(), packet.size())) {
            throw Failure{3, "cannot send the capability packet to the engine"};
        }
    }

    net::Socket openUdp(uint16_t wanted, uint16_t& bound) {
        net::Socket s = net::udp_socket();
        net::Ipv4Endpoint local;
        if (!s.valid() || !net::bind(s, {net::kAnyAddress, wanted}) ||
            !net::set_nonblocking(s, true) || !net::local_endpoint(s, local)) {
            throw Failure{3, "cannot open UDP port " + std::to_string(wanted)};
        }
        net::set_receive_buffer(s, 8 << 20);
        bound = local.port;
        return s;
    }

    // Reads TCP bytes into the parser; false once the engine closed.
    bool readTcp(int waitMs) {
        if (net::wait_readable(tcp_, waitMs) != 1) return true;
        uint8_t buffer[65536];
        size_t got = 0;
        const auto status = net::receive_some(tcp_, buffer, sizeof buffer, got);
        if (status == net::IoStatus::Ok) {
            parser_.append({buffer, got});
            lastActivityUs_ = now();
            return true;
        }
        return status == net::IoStatus::WouldBlock || status == net::IoStatus::Timeout;
    }

    void waitForMetadata() {
        const uint64_t deadline = now() + uint64_t(o_.metadataTimeoutMs) * 1000;
        while (!metadata_) {
            if (now() >= deadline) {
                throw Failure{3, "no stream metadata from the engine within " +
                                     std::to_string(o_.metadataTimeoutMs) + " ms"};
            }
            const bool open = readTcp(20);
            while (auto packet = parser_.next()) {
                if (packet->kind == TcpStreamParser::Kind::Refusal) {
                    throw Failure{2,
                                  "the engine refused the receiver: " +
                                      std::string(packet->refusalCode == 1 ? "authentication failed"
                                                                           : "refusal") +
                                      " (SERR code " + std::to_string(packet->refusalCode) + ")"};
                }
                if (packet->kind != TcpStreamParser::Kind::Metadata) {
                    throw Failure{3, "the engine sent media before stream metadata"};
                }
                metadata_ = packet->metadata;
                s_.metadataTag = packet->tag;
                break;
            }
            if (parser_.failed()) throw Failure{3, parser_.error()};
            if (!metadata_ && !open) {
                throw Failure{3, "the engine closed the connection before sending stream metadata"};
            }
        }
        s_.width = metadata_->width;
        s_.height = metadata_->height;
        s_.fps = metadata_->fps;
        s_.audioChannels = metadata_->audioChannels;
        s_.codecId = metadata_->codecId;
        s_.videoDecoding = o_.decodeVideo && video_decoding_available();
        if (s_.videoDecoding) videoDecoder_ = create_video_decoder(metadata_->codecId);
        if (o_.decodeAudio) audioDecoder_ = create_audio_decoder(metadata_->audioChannels);
        net::set_nonblocking(tcp_, true);
        lastActivityUs_ = now();
    }

    void sendFeedback(std::span<const uint8_t> datagram) {
        if (!engineUdp_) return;
        net::send_to(video_, datagram.data(), datagram.size(), *engineUdp_);
    }

    void requestKeyFrame() {
        const uint64_t t = now();
        if (!engineUdp_ || t - lastKeyRequestUs_ < kKeyFrameRequestGapUs) return;
        lastKeyRequestUs_ = t;
        sendFeedback(build_key_frame_request(token_));
        ++s_.keyFrameRequests;
    }

    void onVideo(uint32_t sequence, uint64_t timestampUs, bool keyFrame,
                 std::span<const uint8_t> data) {
        const uint64_t arrival = now();
        if (firstFrameUs_ == 0) firstFrameUs_ = arrival;
        lastFrameUs_ = arrival;
        ++s_.framesReceived;
        s_.videoBytesReceived += data.size();
        if (keyFrame) ++s_.keyFramesReceived;
        lastVideoTimestampUs_ = timestampUs;
        (void)sequence;
        // Capture time mapped into this receiver's clock.
        const bool timed = s_.clockSynced && timestampUs != 0;
        const int64_t captureHere = int64_t(timestampUs) - s_.clockOffsetUs;
        if (timed) s_.arrivalLatencyMs.push_back(double(int64_t(arrival) - captureHere) / 1000.0);
        if (!videoDecoder_) return;
        const int pictures = videoDecoder_->decode(data);
        if (pictures < 0) {
            if (o_.keyFrameOnLoss) requestKeyFrame();
            return;
        }
        if (pictures == 0) return;
        const uint64_t decoded = now();
        if (timed) s_.decodeLatencyMs.push_back(double(int64_t(decoded) - captureHere) / 1000.0);
        const uint64_t before = s_.framesDecoded;
        s_.framesDecoded += uint64_t(pictures);
        if (!decoderStartedSent_ && engineUdp_) {
            decoderStartedSent_ = true;
            const uint32_t elapsed = uint32_t(std::max<uint64_t>(1, decoded - startUs_));
            sendFeedback(build_elapsed_report(kDecoderStarted, token_, elapsed, decoded));
        }
        if (o_.saveFrame >= 0 && uint64_t(o_.saveFrame) >= before &&
            uint64_t(o_.saveFrame) < s_.framesDecoded && !o_.pngPath.empty()) {
            uint32_t w = 0, h = 0;
            std::vector<uint8_t> rgb;
            if (videoDecoder_->lastPicture(w, h, rgb) &&
                atomic_replace_file(path_from_utf8(o_.pngPath), encode_png_rgb(w, h, rgb))) {
                s_.savedFrame = o_.pngPath;
            }
        }
    }

    void onAudio(uint32_t sequence, uint64_t timestampUs, std::span<const uint8_t> data) {
        lastActivityUs_ = now();
        ++s_.audioPackets;
        s_.audioBytesReceived += data.size();
        if (lastAudioSequence_ && sequence != *lastAudioSequence_ + 1) ++s_.audioGaps;
        lastAudioSequence_ = sequence;
        lastAudioTimestampUs_ = timestampUs;
        if (!audioDecoder_) return;
        const int n = audioDecoder_->decode(data, pcm_);
        if (n > 0) s_.audioSamplesDecoded += uint64_t(n);
        if (o_.wavPath.empty()) pcm_.clear();
    }

    void onDatagram(std::span<const uint8_t> d, net::Ipv4Endpoint from) {
        lastActivityUs_ = now();
        MediaHeader header;
        std::span<const uint8_t> payload;
        if (parse_media_datagram(d, header, payload)) {
            if (header.token != token_) return;
            if (header.mediaType == kMediaVideo) {
                if (!engineUdp_) engineUdp_ = from;
                videoLoss_.add(header.datagramSequence);
                const uint64_t supersededBefore = videoReassembler_.superseded();
                if (auto frame = videoReassembler_.add(header, payload)) {
                    onVideo(frame->frameSequence, frame->timestampUs, frame->keyFrame, frame->data);
                }
                if (videoReassembler_.superseded() != supersededBefore && o_.keyFrameOnLoss) {
                    requestKeyFrame();
                }
            } else {
                audioLoss_.add(header.datagramSequence);
                if (auto packet = audioReassembler_.add(header, payload)) {
                    onAudio(packet->frameSequence, packet->timestampUs, packet->data);
                }
            }
            return;
        }
        const auto reply = parse_feedback(d, token_);
        if (reply && reply->type == kClockReply && d.size() == 32 && reply->pingClockUs != 0) {
            const uint64_t t = now();
            const uint64_t rtt = t - reply->pingClockUs;
            // The engine read its clock somewhere within the round trip; it
            // answers pings once per frame, so the round trip varies by up to
            // a frame and only the shortest ones bound the offset tightly.
            // The best round trip ages a little with every ping so that a
            // changed path is followed.
            bestRttUs_ = std::min(bestRttUs_ + kRttAgingUs, UINT64_MAX - kRttAgingUs);
            if (rtt <= bestRttUs_) {
                bestRttUs_ = rtt;
                s_.clockOffsetUs = int64_t(reply->pingFree + rtt / 2 - t);
                s_.clockSynced = true;
            }
            s_.rttMs = double(rtt) / 1000.0;
            rttUs_ = uint32_t(std::min<uint64_t>(rtt, UINT32_MAX));
        }
    }

    bool drainUdp(net::Socket& socket) {
        if (!socket.valid()) return false;
        bool any = false;
        uint8_t buffer[2048];
        for (int i = 0; i < 4096; ++i) {
            size_t got = 0;
            net::Ipv4Endpoint from;
            bool truncated = false;
            if (net::receive_from(socket, buffer, sizeof buffer, got, from, &truncated) !=
                net::IoStatus::Ok) {
                break;
            }
            any = true;
            if (!truncated) onDatagram({buffer, got}, from);
        }
        return any;
    }

    void handleTcpPackets() {
        while (auto packet = parser_.next()) {
            switch (packet->kind) {
                case TcpStreamParser::Kind::VideoV1:
                case TcpStreamParser::Kind::VideoV2:
                    s_.tcpVideoTag = packet->tag;
                    onVideo(packet->sequence, packet->timestampUs,
                            holds_idr(packet->payload, metadata_->codecId), packet->payload);
                    break;
                case TcpStreamParser::Kind::Audio:
                    onAudio(packet->sequence, packet->timestampUs, packet->payload);
                    break;
                default:
                    break;
            }
        }
        if (parser_.failed()) throw Failure{3, parser_.error()};
    }

    void sendReports(uint64_t t) {
        if (!engineUdp_) return;
        if (t >= nextPingUs_) {
            nextPingUs_ = t + uint64_t(o_.pingIntervalMs) * 1000;
            sendFeedback(build_clock_ping(token_, t));
        }
        if (t >= nextReportUs_) {
            nextReportUs_ = t + uint64_t(o_.reportIntervalMs) * 1000;
            const uint64_t received = videoLoss_.received() + audioLoss_.received();
            const uint64_t lost = videoLoss_.lost() + audioLoss_.lost();
            TransportReport r;
            r.rttUs = rttUs_;
            r.received = uint32_t(received - reportedReceived_);
            r.lost = uint32_t(lost > reportedLost_ ? lost - reportedLost_ : 0);
            r.decoderQueue = 0;  // decoding is synchronous here
            r.mediaQueue = uint16_t(std::min<size_t>(videoReassembler_.pending(), 0xFFFF));
            r.timestampUs = t;
            reportedReceived_ = received;
            reportedLost_ = std::max(lost, reportedLost_);
            sendFeedback(build_transport_report(token_, r));
            if ((o_.flags & kFlagWantsAudio) && s_.audioPackets > 0) {
                AudioReport a;
                const int64_t sync =
                    int64_t(lastAudioTimestampUs_) - int64_t(lastVideoTimestampUs_);
                a.avSyncUs = int32_t(std::clamp<int64_t>(sync, INT32_MIN, INT32_MAX));
                a.underruns = uint32_t(s_.audioGaps);
                a.samplesPlayed = uint32_t(s_.audioSamplesDecoded);
                a.samplesBuffered = 0;
                a.timestampUs = t;
                sendFeedback(build_audio_report(token_, a));
            }
        }
        if (t >= nextHealthUs_) {
            if (healthStartUs_ != 0) {
                const double seconds = double(t - healthStartUs_) / 1e6;
                HealthReport h;
                h.fpsMilli = uint32_t(double(s_.framesReceived - healthFrames_) / seconds * 1000.0);
                h.targetFps = std::clamp<uint32_t>(metadata_->fps, 1, 240);
                const uint64_t received = videoLoss_.received() - healthReceived_;
                const uint64_t lost = videoLoss_.lost() - std::min(videoLoss_.lost(), healthLost_);
                h.lossMilliPercent =
                    received + lost
                        ? uint32_t(std::min<uint64_t>(100000, lost * 100000 / (received + lost)))
                        : 0;
                h.timestampUs = t;
                sendFeedback(build_health_report(token_, h));
            }
            healthStartUs_ = t;
            healthFrames_ = s_.framesReceived;
            healthReceived_ = videoLoss_.received();
            healthLost_ = videoLoss_.lost();
            nextHealthUs_ = t + kHealthIntervalMs * 1000;
        }
        if (o_.keyFrameEverySeconds > 0 && firstFrameUs_ != 0 && t >= nextKeyFrameUs_) {
            if (nextKeyFrameUs_ != 0) {
                lastKeyRequestUs_ = 0;
                requestKeyFrame();
            }
            nextKeyFrameUs_ = t + uint64_t(o_.keyFrameEverySeconds * 1e6);
        }
        while (firstFrameUs_ != 0 && scriptIndex_ < o_.inputScript.size() &&
               t >= firstFrameUs_ + uint64_t(o_.inputScript[scriptIndex_].atMs) * 1000) {
            InputReport in{o_.inputScript[scriptIndex_].event, ++inputSequence_, t};
            sendFeedback(build_input_event(token_, in));
            ++s_.inputEventsSent;
            ++scriptIndex_;
        }
    }

    bool endDue(uint64_t t) const {
        if (o_.durationSeconds > 0 && firstFrameUs_ != 0 &&
            t >= firstFrameUs_ + uint64_t(o_.durationSeconds * 1e6)) {
            return true;
        }
        return o_.maxFrames > 0 && s_.framesReceived >= o_.maxFrames;
    }

    void stream() {
        const bool bounded = o_.durationSeconds > 0 || o_.maxFrames > 0;
        uint64_t endSentUs = 0;
        for (;;) {
            const uint64_t t = now();
            bool busy = drainUdp(video_) | drainUdp(audio_);
            const bool open = readTcp(0);
            handleTcpPackets();
            if (!open) {
                if (endSentUs == 0 && bounded) {
                    throw Failure{3, "the engine closed the connection during the stream"};
                }
                if (endSentUs == 0) s_.endReason = "engine-closed";
                return;
            }
            sendReports(t);
            if (endSentUs == 0 && endDue(t)) {
                s_.endReason =
                    o_.maxFrames > 0 && s_.framesReceived >= o_.maxFrames ? "frames" : "duration";
                if (!o_.sendEnd) return;
                const auto control = build_control({2, kControlEndSession, 1, 0, token_});
                net::set_nonblocking(tcp_, false);
                net::send_all(tcp_, control.data(), control.size());
                net::set_nonblocking(tcp_, true);
                endSentUs = t;
            }
            if (endSentUs != 0 && t - endSentUs > kEndGraceUs) {
                s_.endReason += "-no-close";
                return;
            }
            if (endSentUs == 0 && now() > lastActivityUs_ + uint64_t(o_.idleTimeoutMs) * 1000) {
                throw Failure{
                    3, "no media from the engine for " + std::to_string(o_.idleTimeoutMs) + " ms"};
            }
            if (!busy) net::wait_readable(udp_ ? video_ : tcp_, 1);
        }
    }

    void finish() {
        s_.videoDatagramsReceived = videoLoss_.received();
        s_.videoDatagramsLost = videoLoss_.lost();
        s_.audioDatagramsReceived = audioLoss_.received();
        s_.audioDatagramsLost = audioLoss_.lost();
        s_.duplicateDatagrams = videoLoss_.duplicates() + audioLoss_.duplicates();
        s_.framesSuperseded = videoReassembler_.superseded();
        if (firstFrameUs_ != 0 && lastFrameUs_ > firstFrameUs_) {
            s_.durationSeconds = double(lastFrameUs_ - firstFrameUs_) / 1e6;
        }
        if (!o_.wavPath.empty() && audioDecoder_ && !pcm_.empty() &&
            atomic_replace_file(path_from_utf8(o_.wavPath),
                                encode_wav(48000, audioDecoder_->channels(), pcm_))) {
            s_.savedAudio = o_.wavPath;
        }
        tcp_.close();
        video_.close();
        audio_.close();
    }

    ReceiverOptions o_;
    ReceiverSummary s_;
    bool refused_ = false;
    bool udp_ = false;
    uint64_t token_ = 0;
    net::Socket tcp_, video_, audio_;
    TcpStreamParser parser_;
    std::optional<StreamMetadata> metadata_;
    std::optional<net::Ipv4Endpoint> engineUdp_;
    Reassembler videoReassembler_, audioReassembler_;
    LossCounter videoLoss_, audioLoss_;
    std::unique_ptr<VideoDecoder> videoDecoder_;
    std::unique_ptr<AudioDecoder> audioDecoder_;
    std::vector<int16_t> pcm_;
    uint64_t startUs_ = 0, firstFrameUs_ = 0, lastFrameUs_ = 0, lastActivityUs_ = 0;
    uint64_t nextPingUs_ = 0, nextReportUs_ = 0, nextHealthUs_ = 0, nextKeyFrameUs_ = 0;
    uint64_t lastKeyRequestUs_ = 0;
    uint64_t reportedReceived_ = 0, reportedLost_ = 0;
    uint64_t healthStartUs_ = 0, healthFrames_ = 0, healthReceived_ = 0, healthLost_ = 0;
    uint32_t rttUs_ = 0;
    static constexpr uint64_t kRttAgingUs = 100;
    uint64_t bestRttUs_ = UINT64_MAX - kRttAgingUs;
    bool decoderStartedSent_ = false;
    uint32_t inputSequence_ = 0;
    size_t scriptIndex_ = 0;
    std::optional<uint32_t> lastAudioSequence_;
    uint64_t lastAudioTimestampUs_ = 0, lastVideoTimestampUs_ = 0;
};

}  // namespace

ReceiverClient::ReceiverClient(ReceiverOptions options) : options_(std::move(options)) {}

ReceiverSummary ReceiverClient::run() {
    Session session(options_);
    return session.run();
}

int ReceiverClient::exit_code(const ReceiverSummary& summary) {
    if (summary.ok) return 0;
    return summary.error.rfind("the engine refused", 0) == 0 ? 2 : 3;
}

}  // namespace zel::receiver
