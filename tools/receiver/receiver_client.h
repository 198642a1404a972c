#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "base/net.h"
#include "tools/receiver/decoders.h"
#include "tools/receiver/input_script.h"
#include "tools/receiver/summary.h"

namespace zel::receiver {

struct ReceiverOptions {
    net::Ipv4Endpoint engine{net::kLoopbackAddress, 48300};
    uint16_t version = 2;
    uint16_t flags = 0x0F;   // audio, UDP, own audio port, HEVC capable
    uint16_t videoPort = 0;  // 0: any free port, announced as bound
    uint16_t audioPort = 0;
    uint16_t maxDatagram = 1400;
    uint64_t token = 0;
    int connectTimeoutMs = 5000;
    int metadataTimeoutMs = 20000;  // the engine builds its encoder before metadata
    int idleTimeoutMs = 5000;       // no media for this long ends the run with an error
    double durationSeconds = 0;     // > 0: end with "SCTL" after this long
    uint64_t maxFrames = 0;         // > 0: end with "SCTL" after this many frames
    bool sendEnd = true;            // false: just close the connection at the end
    double keyFrameEverySeconds = 0;
    bool keyFrameOnLoss = true;
    int pingIntervalMs = 500;
    int reportIntervalMs = 1000;
    std::vector<ScriptedInput> inputScript;
    int64_t saveFrame = -1;  // index of the decoded picture to keep as PNG
    std::string pngPath;
    std::string wavPath;
    bool decodeVideo = true;
    bool decodeAudio = true;
};

// The reference receiver's whole session: connects, announces itself, reads
// metadata, receives and decodes media over TCP or UDP, reports back like a
// receiver app, and ends. Everything runs on the calling thread.
class ReceiverClient {
  public:
    explicit ReceiverClient(ReceiverOptions options);
    // The summary; ok is false (with error) when the engine refused the
    // receiver, closed before metadata, or went silent.
    ReceiverSummary run();
    // Exit code for the summary: 0 ok, 2 refused by the engine, 3 connection
    // failure or time-out.
    static int exit_code(const ReceiverSummary& summary);

  private:
    ReceiverOptions options_;
};

}  // namespace zel::receiver
