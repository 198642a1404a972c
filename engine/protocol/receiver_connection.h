#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <span>
#include <vector>

#include "base/clock.h"
#include "base/net.h"
#include "engine/audio/encoded_audio_frame.h"
#include "engine/input/remote_input_event.h"
#include "engine/protocol/packets.h"
#include "engine/video/video_types.h"

namespace zel {

// What the receiver sent in one session loop turn.
struct ReceiverEvents {
    struct Health {
        double fps = 0;
        uint32_t targetFps = 0;
        uint16_t decoderQueue = 0;
        uint16_t maxDecoderQueue = 0;
        double lossPercent = 0;
        uint64_t timestampUs = 0;
        uint32_t thermalStatus = 0;
        uint32_t availableMemoryMb = 0;
    };

    bool keyFrameRequested = false;
    bool endRequested = false;
    std::vector<RemoteInputEvent> inputEvents;           // accepted events in arrival order
    std::optional<protocol::TransportReport> transport;  // the last report of each kind this turn
    std::optional<protocol::AudioReport> audio;
    std::optional<uint32_t> decoderStartedUs;
    std::optional<uint32_t> referenceRecoveredUs;
    std::optional<Health> health;
};

// The engine's side of one receiver session: the handshake on the accepted TCP
// connection, the UDP media sockets, sending frames and audio, and reading
// what the receiver sends back.
//
// Threads: the session thread calls everything; the audio worker calls only
// sendAudioPacket. TCP writes and video-socket sends of both threads are
// serialised by the video lock, audio-socket sends by the audio lock. The
// counters and the drop interval are atomic so the session can read and set
// them while the audio thread sends.
class ReceiverConnection {
  public:
    // The TCP socket stays owned by the caller (the accept loop closes it);
    // expectedToken 0 switches authentication off. The clock drives the clock
    // replies and the age test of input events.
    ReceiverConnection(net::Socket& tcp, uint64_t expectedToken,
                       const SteadyClock& clock = system_steady_clock());
    ~ReceiverConnection();
    ReceiverConnection(const ReceiverConnection&) = delete;
    ReceiverConnection& operator=(const ReceiverConnection&) = delete;

    // Reads and checks the capability packet and sets up UDP when asked for.
    // Throws EngineError category 3 when the receiver is refused.
    void handshake();

    // What the receiver announced (valid after handshake).
    bool versionAtLeast2() const { return versionAtLeast2_; }
    uint16_t flags() const { return flags_; }
    bool wantsAudio() const { return (flags_ & protocol::kFlagWantsAudio) != 0; }
    bool hevcCapable() const { return (flags_ & protocol::kFlagHevcCapable) != 0; }
    bool requiresHevc() const { return (flags_ & protocol::kFlagRequiresHevc) != 0; }
    bool drawsPointer() const { return (flags_ & protocol::kFlagDrawsPointer) != 0; }
    uint8_t receiverChannels() const { return receiverChannels_; }
    uint64_t token() const { return token_; }
    uint16_t maxDatagram() const { return maxDatagram_; }
    bool udpActive() const { return udpActive_.load(); }
    bool separateAudioSocket() const { return audioSocket_.valid(); }
    net::Ipv4Endpoint videoDestination() const { return videoDestination_; }
    net::Ipv4Endpoint audioDestination() const { return audioDestination_; }

    // The 12-byte metadata, always on TCP. Throws EngineError category 3.
    void sendMetadata(uint16_t width, uint16_t height, uint16_t fps, uint8_t audioChannels,
                      uint8_t codecId);
    // Writes everything to the TCP socket; false as soon as one send fails.
    // The caller holds the video lock when other threads may write too.
    bool sendAll(const void* data, size_t size);

    // False: the connection failed and the session must end. A frame without
    // output is nothing to send and counts as success.
    bool sendVideoFrame(const EncodedVideoFrame& frame);
    // Audio worker thread. True without sending anything when the receiver
    // did not ask for audio.
    bool sendAudioPacket(const EncodedAudioFrame& packet);
    // Cuts one frame or packet into datagrams and sends them. False when
    // the payload is empty or too large, or a send failed.
    bool sendDatagrams(uint8_t mediaType, uint16_t mediaFlags, uint32_t frameSequence,
                       uint64_t timestampUs, uint16_t samples, std::span<const uint8_t> payload);

    // Non-blocking; once per session loop turn.
    ReceiverEvents pollReceiver();
    // Non-blocking liveness test of the TCP connection.
    bool isAlive();

    // Test impairment: every dropInterval-th non-key video datagram is
    // withheld; 0 (or 1) is off.
    void setDropInterval(uint32_t interval) { dropInterval_.store(interval); }
    uint32_t dropInterval() const { return dropInterval_.load(); }

    uint64_t videoBytes() const { return videoBytes_.load(); }
    uint64_t audioBytes() const { return audioBytes_.load(); }
    uint64_t videoDatagrams() const { return videoDatagrams_.load(); }
    uint64_t droppedDatagrams() const { return droppedDatagrams_.load(); }
    int64_t clockOffsetUs() const { return clockOffsetUs_; }
    bool clockValid() const { return clockValid_; }

    // Closes the UDP sockets and frees the buffers; the TCP socket is left
    // to its owner. Called by the destructor too.
    void close();

    // Most datagrams one pollReceiver reads, so a flood cannot hold the
    // session loop; the rest wait for the next turn.
    static constexpr int kMaxDatagramsPerPoll = 512;

  private:
    [[noreturn]] void fail(const char* message);
    void handleFeedback(std::span<const uint8_t> datagram, ReceiverEvents& events);
    void acceptInput(const protocol::InputReport& input, ReceiverEvents& events);
    void drainControlBuffer(ReceiverEvents& events);

    net::Socket& tcp_;
    const uint64_t expectedToken_;
    const SteadyClock& clock_;

    net::Socket videoSocket_;
    net::Socket audioSocket_;
    net::Ipv4Endpoint videoDestination_;
    net::Ipv4Endpoint audioDestination_;
    uint64_t token_ = 0;
    uint16_t maxDatagram_ = 0;
    bool versionAtLeast2_ = false;
    uint16_t flags_ = 0;
    uint8_t receiverChannels_ = 2;
    std::atomic<bool> udpActive_{false};

    std::mutex videoLock_;
    std::mutex audioLock_;
    std::vector<uint8_t> videoBuffer_;  // under videoLock_
    std::vector<uint8_t> audioBuffer_;  // under audioLock_
    std::atomic<uint32_t> videoDatagramSequence_{0};
    std::atomic<uint32_t> audioDatagramSequence_{0};
    std::atomic<int32_t> audioPending_{0};
    std::atomic<uint32_t> dropInterval_{0};
    std::atomic<uint64_t> videoBytes_{0};
    std::atomic<uint64_t> audioBytes_{0};
    std::atomic<uint64_t> videoDatagrams_{0};
    std::atomic<uint64_t> droppedDatagrams_{0};

    // Session thread only.
    std::vector<uint8_t> tcpReceiveBuffer_;
    int64_t clockOffsetUs_ = 0;
    bool clockValid_ = false;
    uint32_t lastInputSequence_ = 0;
    bool haveInputSequence_ = false;
};

}  // namespace zel
