#include "engine/core/accept_loop.h"

#include <array>
#include <exception>
#include <string_view>

#include "base/engine_error.h"
#include "engine/core/console.h"
#include "engine/core/platform.h"
#include "engine/core/probes.h"
#include "engine/core/status_file.h"
#include "engine/input/gamepad_manager.h"

namespace zel {

namespace {

constexpr const char* kReadyMessage = "ZEL Engine siap menerima receiver";
constexpr const char* kReconnectingMessage =
    "Sumber berubah atau belum tersedia; mencoba menyambung ulang";

constexpr std::array<std::string_view, 6> kSourceChangeTexts = {
    "size changed",       "resolution changed",  "Primary display changed",
    "window was closed",  "no capturable window", "display is no longer attached",
};

}  // namespace

SessionStatus status_after_engine_error(int category, const std::string& message) {
    if (category == 0) {
        for (const auto text : kSourceChangeTexts) {
            if (message.find(text) != std::string::npos) return {"reconnecting", kReconnectingMessage};
        }
    }
    return {"error", message};
}

SessionStatus status_after_return(const StreamClientResult& result) {
    if (result.endedByReceiver) return {"ready", "Streaming dihentikan dari TV; ZEL Engine tetap siap"};
    return {"ready", "Receiver terputus; ZEL Engine tetap siap"};
}

int run_engine(const EngineSettings& settings, const SessionRunner& session) {
    long hresult = 0;
    if (!engine_initialise_com(hresult)) {
        const std::string text =
            "COM MTA initialization failed: HRESULT " + std::to_string(int32_t(hresult));
        console_err(text);
        writeStatus(settings.statusFile, idle_status("error", text));
        return 13;
    }
    engine_set_dpi_awareness();

    if (auto code = run_requested_job(settings)) {
        engine_uninitialise_com();
        return *code;
    }

    if (!net::startup()) return 1;
    net::Socket listener = net::tcp_socket();
    if (!listener.valid()) return 2;
#ifndef _WIN32
    // Lets a restarted engine listen again while old connections linger in
    // TIME_WAIT, as Windows allows; a second live listener is still refused.
    net::set_reuse_address(listener, true);
#endif
    if (!net::bind(listener, {net::kAnyAddress, kEnginePort}) || !net::listen(listener, 2)) return 3;
    console_out("ZEL Engine listening on " + std::to_string(kEnginePort));

    GamepadManager::instance().initialise();
    writeStatus(settings.statusFile, idle_status("ready", kReadyMessage));

    bool impairmentUsed = false;
    for (;;) {
        net::Socket client = net::accept(listener);
        if (!client.valid()) {
            listener.close();
            net::cleanup();
            engine_uninitialise_com();
            return 0;
        }
        net::set_tcp_nodelay(client, true);
        net::set_send_buffer(client, 65536);

        EngineSettings sessionSettings = settings;
        if (impairmentUsed) sessionSettings.testDropEvery = 0;
        SessionStatus after;
        try {
            const StreamClientResult result = session(client, sessionSettings);
            if (result.testImpairmentApplied) impairmentUsed = true;
            after = status_after_return(result);
        } catch (const EngineError& e) {
            console_err("Engine error " + std::to_string(e.category()) + ": " + e.what());
            after = status_after_engine_error(e.category(), e.what());
        } catch (const std::exception& e) {
            console_err(e.what());
            after = {"error", e.what()};
        }
        writeStatus(settings.statusFile, idle_status(after.state, after.message));
        GamepadManager::instance().resetAll();
        client.close();
    }
}

}  // namespace zel
