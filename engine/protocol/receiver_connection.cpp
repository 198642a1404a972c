#include "engine/protocol/receiver_connection.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <thread>

#include "base/engine_error.h"

namespace zel {

namespace {

constexpr int kHandshakeWaitMs = 2000;
constexpr int kCapabilityReadTimeoutMs = 500;
constexpr int kRefusalLingerMs = 50;
constexpr int kVideoSendBuffer = 1048576;
constexpr int kAudioSendBuffer = 131072;
constexpr int kAudioTos = 0xB8;  // DSCP 46, expedited forwarding
constexpr size_t kVideoBurst = 8;
constexpr int kAudioYieldTries = 20;
constexpr size_t kMaxSendChunk = 2147483647;
constexpr int64_t kInputMaxFutureUs = 100000;
constexpr int64_t kInputMaxAgeUs = 250000;

// True when read filled the whole buffer; any shortfall (closed, error or the
// receive timeout) is a failure for the handshake.
bool read_fully(net::Socket& s, uint8_t* data, size_t size) {
    size_t got = 0;
    return net::receive_exact(s, data, size, got) == net::IoStatus::Ok && got == size;
}

}  // namespace

ReceiverConnection::ReceiverConnection(net::Socket& tcp, uint64_t expectedToken,
                                       const SteadyClock& clock)
    : tcp_(tcp), expectedToken_(expectedToken), clock_(clock) {}

ReceiverConnection::~ReceiverConnection() {
    close();
}

void ReceiverConnection::close() {
    std::scoped_lock lock(videoLock_, audioLock_);
    videoSocket_.close();
    audioSocket_.close();
    udpActive_ = false;
    videoBuffer_ = {};
    audioBuffer_ = {};
    tcpReceiveBuffer_ = {};
}

void ReceiverConnection::fail(const char* message) {
    throw EngineError(3, message);
}

void ReceiverConnection::handshake() {
    if (net::wait_readable(tcp_, kHandshakeWaitMs) != 1) {
        fail("Receiver handshake timed out before authentication");
    }
    net::set_receive_timeout(tcp_, kCapabilityReadTimeoutMs);

    std::array<uint8_t, protocol::kCapabilityUdpAudioSize> packet{};
    if (!read_fully(tcp_, packet.data(), protocol::kCapabilityShortSize)) {
        fail("Receiver closed during capability negotiation");
    }
    const size_t length = protocol::capability_packet_length(
        std::span(packet.data(), protocol::kCapabilityShortSize));
    if (length == 0) fail("Receiver sent an incomplete capability packet");
    if (length > protocol::kCapabilityShortSize &&
        !read_fully(tcp_, packet.data() + protocol::kCapabilityShortSize,
                    length - protocol::kCapabilityShortSize)) {
        fail("Receiver sent an incomplete capability packet");
    }
    const auto caps = protocol::parse_capability_packet(std::span(packet.data(), length));
    if (!caps) fail("Receiver sent an invalid capability packet");

    if (expectedToken_ != 0 && (caps->token == 0 || caps->token != expectedToken_)) {
        const auto refusal = protocol::build_refusal(protocol::kRefusalAuthenticationFailed);
        net::send_all(tcp_, refusal.data(), refusal.size());
        net::shutdown_send(tcp_);
        // Gives the refusal time to reach the receiver before the owner
        // closes the socket, which could otherwise reset the connection.
        std::this_thread::sleep_for(std::chrono::milliseconds(kRefusalLingerMs));
        fail("Receiver authentication failed; check the TV access code");
    }

    versionAtLeast2_ = protocol::capability_version2(caps->version);
    flags_ = caps->flags;
    receiverChannels_ = protocol::receiver_channels(caps->flags);

    net::Ipv4Endpoint peer;
    if (versionAtLeast2_ && (caps->flags & protocol::kFlagUdp) && net::peer_endpoint(tcp_, peer)) {
        token_ = caps->token;
        videoDestination_ = {peer.address, caps->videoPort};
        audioDestination_ = {peer.address, caps->audioPort};
        maxDatagram_ = caps->maxDatagram;
        videoBuffer_.assign(maxDatagram_, 0);
        audioBuffer_.assign(maxDatagram_, 0);

        // Neither socket is bound: the system picks the local port on the
        // first send, and the receiver answers to that address.
        net::Socket video = net::udp_socket();
        if (video.valid() && net::set_nonblocking(video, true)) {
            net::set_send_buffer(video, kVideoSendBuffer);
            videoSocket_ = std::move(video);
            net::Socket audio = net::udp_socket();
            if (audio.valid() && net::set_nonblocking(audio, true)) {
                net::set_send_buffer(audio, kAudioSendBuffer);
                net::set_ip_tos(audio, kAudioTos);
                audioSocket_ = std::move(audio);
            }
            udpActive_ = true;
        }
    }
    net::set_receive_timeout(tcp_, 0);
}

void ReceiverConnection::sendMetadata(uint16_t width, uint16_t height, uint16_t fps,
                                      uint8_t audioChannels, uint8_t codecId) {
    const auto packet =
        protocol::build_metadata({versionAtLeast2_, width, height, fps, audioChannels, codecId});
    std::lock_guard lock(videoLock_);
    if (!sendAll(packet.data(), packet.size())) fail("Failed to send stream metadata");
}

bool ReceiverConnection::sendAll(const void* data, size_t size) {
    const auto* p = static_cast<const uint8_t*>(data);
    while (size > 0) {
        size_t sent = 0;
        const auto status = net::send_some(tcp_, p, std::min(size, kMaxSendChunk), sent);
        if (status != net::IoStatus::Ok || sent == 0) return false;
        p += sent;
        size -= sent;
    }
    return true;
}

bool ReceiverConnection::sendVideoFrame(const EncodedVideoFrame& frame) {
    if (!frame.hasOutput) return true;
    if (udpActive_) {
        return sendDatagrams(protocol::kMediaVideo, frame.keyFrame ? protocol::kMediaKeyFrame : 0,
                             frame.sequence, frame.timestampUs, 0, frame.data);
    }
    if (frame.data.size() > UINT32_MAX) return false;
    const auto length = uint32_t(frame.data.size());
    std::lock_guard lock(videoLock_);
    bool ok;
    size_t headerSize;
    if (versionAtLeast2_) {
        const auto header =
            protocol::build_frame_v2_header(frame.sequence, frame.timestampUs, length);
        headerSize = header.size();
        ok = sendAll(header.data(), header.size());
    } else {
        const auto header = protocol::build_frame_v1_header(frame.sequence, length);
        headerSize = header.size();
        ok = sendAll(header.data(), header.size());
    }
    ok = ok && sendAll(frame.data.data(), frame.data.size());
    if (ok) videoBytes_ += headerSize + frame.data.size();
    return ok;
}

bool ReceiverConnection::sendAudioPacket(const EncodedAudioFrame& packet) {
    if (!versionAtLeast2_ || !wantsAudio()) return true;
    const auto samples = uint16_t(std::min<uint32_t>(packet.samples, 0xFFFF));
    if (udpActive_) {
        return sendDatagrams(protocol::kMediaAudio, 0, packet.sequence,
                             uint64_t(packet.timestampUs), samples, packet.data);
    }
    if (packet.data.size() > UINT32_MAX) return false;
    const auto header = protocol::build_audio_header(packet.sequence, uint64_t(packet.timestampUs),
                                                     samples, uint32_t(packet.data.size()));
    std::lock_guard lock(videoLock_);
    const bool ok =
        sendAll(header.data(), header.size()) && sendAll(packet.data.data(), packet.data.size());
    if (ok) audioBytes_ += header.size() + packet.data.size();
    return ok;
}

bool ReceiverConnection::sendDatagrams(uint8_t mediaType, uint16_t mediaFlags,
                                       uint32_t frameSequence, uint64_t timestampUs,
                                       uint16_t samples, std::span<const uint8_t> payload) {
    if (!udpActive_ || maxDatagram_ <= protocol::kMediaHeaderSize) return false;
    const size_t chunk = maxDatagram_ - protocol::kMediaHeaderSize;
    const size_t fragmentCount = (payload.size() + chunk - 1) / chunk;
    if (fragmentCount == 0 || fragmentCount > 65535) return false;

    const bool video = mediaType == protocol::kMediaVideo;
    const bool ownAudioSocket = !video && audioSocket_.valid();
    net::Socket& socket = ownAudioSocket ? audioSocket_ : videoSocket_;
    const net::Ipv4Endpoint destination = ownAudioSocket ? audioDestination_ : videoDestination_;
    std::mutex& lock = ownAudioSocket ? audioLock_ : videoLock_;
    std::vector<uint8_t>& buffer = ownAudioSocket ? audioBuffer_ : videoBuffer_;
    std::atomic<uint32_t>& sequence = video ? videoDatagramSequence_ : audioDatagramSequence_;

    // Audio sharing the video socket tells the video sender to make room
    // between its bursts.
    struct PendingGuard {
        std::atomic<int32_t>* pending;
        ~PendingGuard() {
            if (pending) --*pending;
        }
    } guard{(!video && !ownAudioSocket) ? &audioPending_ : nullptr};
    if (guard.pending) ++*guard.pending;

    const size_t burst = video ? kVideoBurst : fragmentCount;
    protocol::MediaHeader header;
    header.mediaType = mediaType;
    header.mediaFlags = mediaFlags;
    header.token = token_;
    header.frameSequence = frameSequence;
    header.timestampUs = timestampUs;
    header.fragmentCount = uint16_t(fragmentCount);
    header.samples = samples;
    const bool withholdable = video && !(mediaFlags & protocol::kMediaKeyFrame);

    size_t index = 0;
    while (index < fragmentCount) {
        {
            std::lock_guard held(lock);
            if (buffer.size() < maxDatagram_) return false;  // closed meanwhile
            const size_t end = std::min(fragmentCount, index + burst);
            for (; index < end; ++index) {
                const size_t offset = index * chunk;
                const size_t length = std::min(chunk, payload.size() - offset);
                header.fragmentIndex = uint16_t(index);
                header.payloadLength = uint16_t(length);
                header.datagramSequence = sequence.fetch_add(1);
                write_media_header(buffer.data(), header);
                std::copy_n(payload.data() + offset, length,
                            buffer.data() + protocol::kMediaHeaderSize);
                const uint32_t interval = dropInterval_.load();
                if (withholdable && interval >= 2 &&
                    (uint64_t(header.datagramSequence) + 1) % interval == 0) {
                    ++droppedDatagrams_;
                    continue;
                }
                const size_t size = protocol::kMediaHeaderSize + length;
                if (net::send_to(socket, buffer.data(), size, destination) != net::IoStatus::Ok) {
                    return false;
                }
                if (video) {
                    videoBytes_ += size;
                    ++videoDatagrams_;
                } else {
                    audioBytes_ += size;
                }
            }
        }
        if (video && index < fragmentCount) {
            for (int i = 0; i < kAudioYieldTries && audioPending_.load() != 0; ++i) {
                std::this_thread::sleep_for(std::chrono::microseconds(100));
            }
        }
    }
    return true;
}

void ReceiverConnection::drainControlBuffer(ReceiverEvents& events) {
    size_t used = 0;
    while (tcpReceiveBuffer_.size() - used >= protocol::kControlSize) {
        const auto control = protocol::parse_control(
            std::span(tcpReceiveBuffer_.data() + used, protocol::kControlSize));
        if (control && control->token == token_) events.endRequested = true;
        used += protocol::kControlSize;
    }
    tcpReceiveBuffer_.erase(tcpReceiveBuffer_.begin(), tcpReceiveBuffer_.begin() + ptrdiff_t(used));
}

ReceiverEvents ReceiverConnection::pollReceiver() {
    ReceiverEvents events;
    if (net::wait_readable(tcp_, 0) == 1) {
        uint8_t data[64];
        size_t got = 0;
        if (net::receive_some(tcp_, data, sizeof data, got) == net::IoStatus::Ok) {
            tcpReceiveBuffer_.insert(tcpReceiveBuffer_.end(), data, data + got);
        }
    }
    drainControlBuffer(events);

    if (!udpActive_) return events;
    for (int i = 0; i < kMaxDatagramsPerPoll; ++i) {
        uint8_t data[protocol::kFeedbackMaxSize];
        size_t got = 0;
        bool truncated = false;
        net::Ipv4Endpoint from;
        if (net::receive_from(videoSocket_, data, sizeof data, got, from, &truncated) !=
                net::IoStatus::Ok ||
            truncated) {
            break;
        }
        if (from != videoDestination_) continue;
        handleFeedback(std::span(data, got), events);
    }
    return events;
}

void ReceiverConnection::handleFeedback(std::span<const uint8_t> datagram, ReceiverEvents& events) {
    const auto message = protocol::parse_feedback(datagram, token_);
    if (!message) return;
    switch (message->type) {
        case protocol::kClockPing: {
            const uint64_t hostNowUs = clock_.nowUs();
            // Unsigned wrap-around keeps hostile receiver times well-defined.
            clockOffsetUs_ = int64_t(hostNowUs - message->pingClockUs);
            clockValid_ = message->pingClockUs != 0;
            const auto reply = protocol::build_clock_reply(datagram, hostNowUs);
            std::lock_guard lock(videoLock_);
            net::send_to(videoSocket_, reply.data(), reply.size(), videoDestination_);
            break;
        }
        case protocol::kKeyFrameRequest:
            events.keyFrameRequested = true;
            break;
        case protocol::kInputEvent:
            acceptInput(message->input, events);
            break;
        case protocol::kTransportReport:
            events.transport = message->transport;
            break;
        case protocol::kAudioReport:
            events.audio = message->audio;
            break;
        case protocol::kDecoderStarted:
            events.decoderStartedUs = message->elapsedUs;
            break;
        case protocol::kReferenceRecovered:
            events.referenceRecoveredUs = message->elapsedUs;
            break;
        case protocol::kReceiverHealth: {
            const auto& h = message->health;
            events.health = ReceiverEvents::Health{
                h.fpsMilli / 1000.0,         h.targetFps,   h.decoderQueue,  h.maxDecoderQueue,
                h.lossMilliPercent / 1000.0, h.timestampUs, h.thermalStatus, h.availableMemoryMb};
            break;
        }
        default:
            break;
    }
}

void ReceiverConnection::acceptInput(const protocol::InputReport& input, ReceiverEvents& events) {
    if (haveInputSequence_ &&
        uint32_t(input.inputSequence - lastInputSequence_ - 1) > 0x7FFFFFFEu) {
        return;
    }
    if (clockValid_) {
        if (input.timestampUs == 0) return;
        const uint64_t receiverNowUs = clock_.nowUs() - uint64_t(clockOffsetUs_);
        const auto age = int64_t(receiverNowUs - input.timestampUs);
        if (age < -kInputMaxFutureUs || age > kInputMaxAgeUs) return;
    }
    lastInputSequence_ = input.inputSequence;
    haveInputSequence_ = true;
    RemoteInputEvent event = input.event;
    const bool gamepad = event.kind >= 4 && event.kind <= 6;
    event.player = gamepad ? std::max<uint8_t>(event.player, 1) : 0;
    events.inputEvents.push_back(event);
}

bool ReceiverConnection::isAlive() {
    const int ready = net::wait_readable(tcp_, 0);
    if (ready < 0) return false;
    if (ready == 0) return true;
    // What arrives on TCP after the handshake can only be control packets, so
    // instead of peeking the bytes are kept for the next pollReceiver.
    uint8_t data[64];
    size_t got = 0;
    const auto status = net::receive_some(tcp_, data, sizeof data, got);
    if (status == net::IoStatus::Ok) {
        tcpReceiveBuffer_.insert(tcpReceiveBuffer_.end(), data, data + got);
        return true;
    }
    return status == net::IoStatus::WouldBlock || status == net::IoStatus::Timeout;
}

}  // namespace zel
