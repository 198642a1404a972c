#pragma once

#include <pulse/pulseaudio.h>

#include <functional>
#include <string>
#include <vector>

namespace zel {

// What the capture and the listing need to know about one PulseAudio sink.
struct PulseSink {
    std::string name;  // the sink's name: the output's id
    std::string description;
    std::string monitorSource;
    pa_sample_spec sampleSpec{};
    pa_channel_map channelMap{};
};

// A connected PulseAudio context on a private main loop that the owning
// thread drives itself; every wait is bounded so a stuck server ends the
// run with an error instead of hanging it. Failures throw EngineError
// category 0 "<step> failed: <PulseAudio's reason>".
class PulseConnection {
  public:
    explicit PulseConnection(const char* clientName);
    ~PulseConnection();
    PulseConnection(const PulseConnection&) = delete;
    PulseConnection& operator=(const PulseConnection&) = delete;

    pa_context* context() const { return context_; }
    // Runs pending events without blocking. False when the connection broke.
    bool dispatch();
    // Runs events for up to timeoutMs or until done() holds; done()'s last value.
    bool runUntil(const std::function<bool()>& done, int timeoutMs);

    // Name of the default sink; empty when the server has none. Throws with `step`.
    std::string defaultSinkName(const std::string& step);
    // False when no sink has that name.
    bool sink(const std::string& name, PulseSink& out, const std::string& step);
    std::vector<PulseSink> sinks(const std::string& step);

    std::string failure(const std::string& step) const;

  private:
    bool runOnce(int timeoutMs);
    void finish(pa_operation* op, const std::string& step);

    pa_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;
};

}  // namespace zel
