#include "engine/core/session_audio.h"

namespace zel {

namespace {

// Stands in until loopback capture is part of the build: never active, and
// says why in the status file.
class NoAudio final : public SessionAudio {
public:
    void start() override {}
    void stop() override {}
    void setVolume(float) override {}
    void setMuted(bool) override {}
    bool isActive() override { return false; }
    std::string lastError() override { return "Audio capture is not available in this build"; }
    std::string deviceName() override { return {}; }
};

}  // namespace

std::unique_ptr<SessionAudio> create_session_audio(AudioSink, const std::u16string&, float, bool,
                                                   uint8_t) {
    return std::make_unique<NoAudio>();
}

}  // namespace zel
