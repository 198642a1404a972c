#include "engine/audio/linux/pulse_connection.h"

#include <chrono>

#include "base/engine_error.h"

namespace zel {

namespace {

constexpr int kServerTimeoutMs = 5000;

PulseSink copy_sink(const pa_sink_info* info) {
    PulseSink s;
    s.name = info->name ? info->name : "";
    s.description = info->description ? info->description : s.name;
    s.monitorSource = info->monitor_source_name ? info->monitor_source_name : "";
    s.sampleSpec = info->sample_spec;
    s.channelMap = info->channel_map;
    return s;
}

}  // namespace

PulseConnection::PulseConnection(const char* clientName) {
    loop_ = pa_mainloop_new();
    if (loop_ == nullptr) throw EngineError(0, "Connect to PulseAudio failed: out of memory");
    context_ = pa_context_new(pa_mainloop_get_api(loop_), clientName);
    if (context_ == nullptr) {
        pa_mainloop_free(loop_);
        throw EngineError(0, "Connect to PulseAudio failed: out of memory");
    }
    // Never start a sound server on the user's behalf: an engine without one
    // reports it.
    bool ok = pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0 &&
              runUntil(
                  [&] {
                      const pa_context_state_t s = pa_context_get_state(context_);
                      return s == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(s);
                  },
                  kServerTimeoutMs) &&
              pa_context_get_state(context_) == PA_CONTEXT_READY;
    if (!ok) {
        const std::string text = failure("Connect to PulseAudio");
        pa_context_unref(context_);
        pa_mainloop_free(loop_);
        throw EngineError(0, text);
    }
}

PulseConnection::~PulseConnection() {
    pa_context_disconnect(context_);
    pa_context_unref(context_);
    pa_mainloop_free(loop_);
}

std::string PulseConnection::failure(const std::string& step) const {
    const int error = pa_context_errno(context_);
    return step + " failed: " + (error != 0 ? pa_strerror(error) : "Timeout");
}

bool PulseConnection::runOnce(int timeoutMs) {
    if (pa_mainloop_prepare(loop_, timeoutMs * 1000) < 0) return false;
    if (pa_mainloop_poll(loop_) < 0) return false;
    return pa_mainloop_dispatch(loop_) >= 0;
}

bool PulseConnection::dispatch() {
    if (!runOnce(0)) return false;
    return PA_CONTEXT_IS_GOOD(pa_context_get_state(context_));
}

bool PulseConnection::runUntil(const std::function<bool()>& done, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0 || !runOnce(static_cast<int>(left))) return done();
    }
    return true;
}

void PulseConnection::finish(pa_operation* op, const std::string& step) {
    if (op == nullptr) throw EngineError(0, failure(step));
    const bool done = runUntil(
        [&] {
            return pa_operation_get_state(op) != PA_OPERATION_RUNNING ||
                   !PA_CONTEXT_IS_GOOD(pa_context_get_state(context_));
        },
        kServerTimeoutMs);
    const bool completed = done && pa_operation_get_state(op) == PA_OPERATION_DONE;
    if (!completed) pa_operation_cancel(op);
    pa_operation_unref(op);
    if (!completed) throw EngineError(0, failure(step));
}

std::string PulseConnection::defaultSinkName(const std::string& step) {
    std::string name;
    pa_operation* op = pa_context_get_server_info(
        context_,
        [](pa_context*, const pa_server_info* info, void* user) {
            if (info != nullptr && info->default_sink_name != nullptr) {
                *static_cast<std::string*>(user) = info->default_sink_name;
            }
        },
        &name);
    finish(op, step);
    return name;
}

bool PulseConnection::sink(const std::string& name, PulseSink& out, const std::string& step) {
    struct Result {
        bool found = false;
        PulseSink sink;
    } result;
    pa_operation* op = pa_context_get_sink_info_by_name(
        context_, name.c_str(),
        [](pa_context*, const pa_sink_info* info, int eol, void* user) {
            if (eol == 0 && info != nullptr) {
                auto* r = static_cast<Result*>(user);
                r->found = true;
                r->sink = copy_sink(info);
            }
        },
        &result);
    // A missing sink completes the operation with an error; only a broken
    // connection is a failure of the step.
    if (op == nullptr) throw EngineError(0, failure(step));
    runUntil(
        [&] {
            return pa_operation_get_state(op) != PA_OPERATION_RUNNING ||
                   !PA_CONTEXT_IS_GOOD(pa_context_get_state(context_));
        },
        kServerTimeoutMs);
    const bool running = pa_operation_get_state(op) == PA_OPERATION_RUNNING;
    if (running) pa_operation_cancel(op);
    pa_operation_unref(op);
    if (running || !PA_CONTEXT_IS_GOOD(pa_context_get_state(context_))) {
        throw EngineError(0, failure(step));
    }
    if (result.found) out = result.sink;
    return result.found;
}

std::vector<PulseSink> PulseConnection::sinks(const std::string& step) {
    std::vector<PulseSink> list;
    pa_operation* op = pa_context_get_sink_info_list(
        context_,
        [](pa_context*, const pa_sink_info* info, int eol, void* user) {
            if (eol == 0 && info != nullptr) {
                static_cast<std::vector<PulseSink>*>(user)->push_back(copy_sink(info));
            }
        },
        &list);
    finish(op, step);
    return list;
}

}  // namespace zel
