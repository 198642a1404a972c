#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "engine/audio/device_format.h"

namespace zel {

// One captured packet, valid until releasePacket.
struct LoopbackPacket {
    const uint8_t* data = nullptr;  // null: the packet is silence
    uint32_t frames = 0;
    bool silent = false;  // the device marked the packet as silence
};

// The OS's loopback capture of one audio output, as one capture run uses it
// (WASAPI shared-mode loopback on Windows, a PulseAudio sink's monitor source
// on Linux). Created, used and destroyed on the capture worker's thread.
// Every method except enterThread throws EngineError on failure, with the
// texts the status file shows.
class LoopbackCaptureClient {
  public:
    virtual ~LoopbackCaptureClient() = default;

    // Prepares the calling thread (COM, timer resolution, scheduling class);
    // undone by the destructor. False when the thread cannot capture at all.
    virtual bool enterThread() = 0;

    // Opens an output: empty id means the current default output.
    virtual void open(const std::u16string& deviceId) = 0;
    // Id of the opened output (compared with the default output's id) and
    // its user-facing name (UTF-8).
    virtual std::u16string openedId() const = 0;
    virtual std::string friendlyName() const = 0;

    virtual DeviceFormat mixFormat() = 0;
    // Starts the loopback stream in the mix format.
    virtual void start() = 0;

    // Frames in the next waiting packet, 0 when none is waiting. afterPacket
    // tells whether a packet was just released (its own failure text).
    virtual uint32_t nextPacketFrames(bool afterPacket) = 0;
    virtual LoopbackPacket acquirePacket() = 0;
    virtual void releasePacket(uint32_t frames) = 0;

    // Id of the current default output; false when there is none.
    virtual bool defaultOutputId(std::u16string& id) = 0;

    virtual void stop() = 0;
};

// The client of this OS.
std::unique_ptr<LoopbackCaptureClient> create_loopback_capture_client();

}  // namespace zel
