#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "engine/audio/audio_types.h"

namespace zel {

// Called by the audio worker for every packet; false stops the worker.
using AudioSink = std::function<bool(const EncodedAudioFrame&)>;

// The loopback audio pipeline as the session drives it.
class SessionAudio {
public:
    virtual ~SessionAudio() = default;
    virtual void start() = 0;
    virtual void stop() = 0;
    virtual void setVolume(float volume) = 0;
    virtual void setMuted(bool muted) = 0;
    virtual bool isActive() = 0;
    virtual std::string lastError() = 0;
    virtual std::string deviceName() = 0;
};

// channelLayout is 2, 6 or 8.
std::unique_ptr<SessionAudio> create_session_audio(AudioSink sink, const std::u16string& deviceId,
                                                   float volume, bool muted, uint8_t channelLayout);

}  // namespace zel
