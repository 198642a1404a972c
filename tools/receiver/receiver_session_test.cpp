// The reference receiver against the engine's own ReceiverConnection, in one
// process over loopback.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <thread>

#include "base/engine_error.h"
#include "engine/protocol/receiver_connection.h"
#include "tools/receiver/access_code.h"
#include "tools/receiver/receiver_client.h"

namespace zel::receiver {
namespace {

// Winsock needs starting once per process; nothing to do on Linux.
class NetEnvironment : public testing::Environment {
  public:
    void SetUp() override { ASSERT_TRUE(net::startup()); }
    void TearDown() override { net::cleanup(); }
};
const auto* const kNetEnvironment = testing::AddGlobalTestEnvironment(new NetEnvironment);

using namespace std::chrono_literals;

// What the engine side saw.
struct EngineLog {
    std::string error;
    bool endRequested = false;
    bool decoderStarted = false;
    int keyFrameRequests = 0;
    int transportReports = 0;
    int healthReports = 0;
    uint64_t reportedLost = 0;
    std::vector<RemoteInputEvent> inputs;
};

// Accepts one receiver on an ephemeral port and runs body on its connection.
class Engine {
  public:
    using Body = std::function<void(ReceiverConnection&, EngineLog&)>;
    Engine(uint64_t token, Body body) {
        listener_ = net::tcp_socket();
        EXPECT_TRUE(net::bind(listener_, {net::kLoopbackAddress, 0}));
        EXPECT_TRUE(net::listen(listener_, 1));
        net::Ipv4Endpoint local;
        net::local_endpoint(listener_, local);
        port = local.port;
        thread_ = std::thread([this, token, body] {
            net::Socket tcp = net::accept(listener_);
            try {
                ReceiverConnection connection(tcp, token);
                connection.handshake();
                body(connection, log);
            } catch (const EngineError& e) {
                log.error = e.message();
            }
        });
    }
    ~Engine() { join(); }
    void join() {
        if (thread_.joinable()) thread_.join();
    }
    uint16_t port = 0;
    EngineLog log;

  private:
    net::Socket listener_;
    std::thread thread_;
};

void note(const ReceiverEvents& e, EngineLog& log) {
    log.endRequested |= e.endRequested;
    log.decoderStarted |= e.decoderStartedUs.has_value();
    log.keyFrameRequests += e.keyFrameRequested;
    if (e.transport) {
        ++log.transportReports;
        log.reportedLost += e.transport->lost;
    }
    log.healthReports += e.health.has_value();
    log.inputs.insert(log.inputs.end(), e.inputEvents.begin(), e.inputEvents.end());
}

// Sends frames like a session loop until the receiver ends or leaves.
Engine::Body streaming(int maxFrames, size_t frameBytes, int keyEvery, uint32_t dropInterval = 0) {
    return [=](ReceiverConnection& c, EngineLog& log) {
        c.sendMetadata(64, 48, 100, 2, 2);
        c.setDropInterval(dropInterval);
        for (int f = 0; f < maxFrames && c.isAlive(); ++f) {
            const auto e = c.pollReceiver();
            note(e, log);
            if (e.endRequested) return;
            EncodedVideoFrame frame{std::vector<uint8_t>(frameBytes, uint8_t(f)), uint32_t(f),
                                    steady_now_us(), f % keyEvery == 0, true};
            if (!c.sendVideoFrame(frame)) return;
            std::this_thread::sleep_for(10ms);
        }
        // Keep reading until the receiver ends, like the session loop does.
        const auto until = std::chrono::steady_clock::now() + 5s;
        while (c.isAlive() && std::chrono::steady_clock::now() < until) {
            const auto e = c.pollReceiver();
            note(e, log);
            if (e.endRequested) return;
            std::this_thread::sleep_for(5ms);
        }
    };
}

ReceiverOptions options_for(const Engine& engine) {
    ReceiverOptions o;
    o.engine = {net::kLoopbackAddress, engine.port};
    o.decodeVideo = false;  // the payloads here are not real pictures
    o.decodeAudio = false;
    o.idleTimeoutMs = 3000;
    o.metadataTimeoutMs = 3000;
    o.pingIntervalMs = 50;
    o.reportIntervalMs = 100;
    return o;
}

TEST(ReceiverSession, UdpStreamEndsWithControlPacket) {
    Engine engine(0, streaming(1000, 5000, 10));
    ReceiverOptions o = options_for(engine);
    o.maxFrames = 40;
    const auto summary = ReceiverClient(o).run();
    engine.join();
    EXPECT_TRUE(summary.ok) << summary.error;
    EXPECT_EQ(summary.transport, "udp");
    EXPECT_EQ(summary.endReason, "frames");
    EXPECT_GE(summary.framesReceived, 40u);
    EXPECT_EQ(summary.videoDatagramsLost, 0u);
    EXPECT_EQ(summary.videoDatagramsReceived, summary.framesReceived * 4);
    EXPECT_TRUE(summary.clockSynced);
    EXPECT_FALSE(summary.arrivalLatencyMs.empty());
    EXPECT_EQ(engine.log.error, "");
    EXPECT_TRUE(engine.log.endRequested);
    EXPECT_GT(engine.log.transportReports, 0);
}

TEST(ReceiverSession, ImpairmentShowsAsLossAndKeyFrameRequests) {
    // Every fifth frame is a key frame; the others each lose one datagram.
    Engine engine(0, streaming(1000, 13600, 5, 10));
    ReceiverOptions o = options_for(engine);
    o.durationSeconds = 0.5;
    const auto summary = ReceiverClient(o).run();
    engine.join();
    EXPECT_TRUE(summary.ok) << summary.error;
    // Ten datagrams a frame: one of each non-key frame is withheld.
    EXPECT_GT(summary.videoDatagramsLost, 0u);
    EXPECT_GT(summary.framesSuperseded, 0u);
    EXPECT_GT(summary.keyFrameRequests, 0u);
    EXPECT_GT(engine.log.keyFrameRequests, 0);
    EXPECT_GT(engine.log.reportedLost, 0u);
}

TEST(ReceiverSession, ScriptedInputReachesTheEngine) {
    Engine engine(0, streaming(1000, 2000, 10));
    ReceiverOptions o = options_for(engine);
    o.durationSeconds = 0.6;
    o.inputScript = {{0, {1, 1, 0, 65, 0, 0}},
                     {10, {1, 0, 0, 65, 0, 0}},
                     {20, {5, 1, 3, 1, -1000, 0}},
                     {30, {7, 1, 0, 2, 100, 200}}};
    const auto summary = ReceiverClient(o).run();
    engine.join();
    EXPECT_TRUE(summary.ok) << summary.error;
    EXPECT_EQ(summary.endReason, "duration");
    EXPECT_EQ(summary.inputEventsSent, 4u);
    ASSERT_EQ(engine.log.inputs.size(), 4u);
    EXPECT_EQ(engine.log.inputs[0], (RemoteInputEvent{1, 1, 0, 65, 0, 0}));
    EXPECT_EQ(engine.log.inputs[2], (RemoteInputEvent{5, 1, 3, 1, -1000, 0}));
    EXPECT_EQ(engine.log.inputs[3], (RemoteInputEvent{7, 1, 0, 2, 100, 200}));
}

TEST(ReceiverSession, AccessCodeTokenIsAcceptedAndAWrongOneRefused) {
    const uint64_t token = derive_session_token("ABCD");
    {
        Engine engine(token, streaming(1000, 1000, 10));
        ReceiverOptions o = options_for(engine);
        o.token = derive_session_token("abcd");
        o.maxFrames = 5;
        const auto summary = ReceiverClient(o).run();
        EXPECT_TRUE(summary.ok) << summary.error;
    }
    {
        Engine engine(token, streaming(1000, 1000, 10));
        ReceiverOptions o = options_for(engine);
        o.token = derive_session_token("ABCE");
        o.maxFrames = 5;
        const auto summary = ReceiverClient(o).run();
        engine.join();
        EXPECT_FALSE(summary.ok);
        EXPECT_EQ(ReceiverClient::exit_code(summary), 2);
        EXPECT_NE(summary.error.find("SERR code 1"), std::string::npos);
        EXPECT_EQ(engine.log.error, "Receiver authentication failed; check the TV access code");
    }
}

TEST(ReceiverSession, VersionOneOverTcp) {
    Engine engine(0, [](ReceiverConnection& c, EngineLog&) {
        c.sendMetadata(64, 48, 30, 2, 2);
        for (uint32_t f = 0; f < 5; ++f) {
            ASSERT_TRUE(c.sendVideoFrame(
                {{0, 0, 0, 1, f == 0 ? uint8_t(0x65) : uint8_t(0x41)}, f, 0, f == 0, true}));
        }
        // The session ends from this side; the receiver sees the close.
    });
    ReceiverOptions o = options_for(engine);
    o.version = 1;
    o.flags = 0;
    const auto summary = ReceiverClient(o).run();
    engine.join();
    EXPECT_TRUE(summary.ok) << summary.error;
    EXPECT_EQ(summary.transport, "tcp");
    EXPECT_EQ(summary.endReason, "engine-closed");
    EXPECT_EQ(summary.framesReceived, 5u);
    EXPECT_EQ(summary.keyFramesReceived, 1u);
}

TEST(ReceiverSession, EngineThatClosesBeforeMetadataIsAnError) {
    Engine engine(0, [](ReceiverConnection&, EngineLog&) {});
    const auto summary = ReceiverClient(options_for(engine)).run();
    EXPECT_FALSE(summary.ok);
    EXPECT_EQ(ReceiverClient::exit_code(summary), 3);
    EXPECT_NE(summary.error.find("before sending stream metadata"), std::string::npos);
}

}  // namespace
}  // namespace zel::receiver
