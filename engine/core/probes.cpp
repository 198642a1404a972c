#include "engine/core/probes.h"

#include <exception>
#include <string>

#include "base/engine_error.h"
#include "base/text.h"
#include "engine/audio/audio_loopback_capture.h"
#include "engine/core/console.h"
#include "engine/video/capture_sources.h"

namespace zel {

namespace {

struct Job {
    bool EngineSettings::*requested;
    int failureCode;
    const char* description;
    // Returns normally on success (after printing its result); throws on failure.
    void (*run)(const EngineSettings&, const char* description);
};

// Jobs whose capture, conversion or encoder parts are not in this build fail
// with their own exit code and say so.
void not_available(const EngineSettings&, const char* description) {
    throw EngineError(1, std::string(description) + " is not available in this build");
}

// One JSON line: [{"id":...,"gpu":...,"primary":true|false},...]
void list_displays_job(const EngineSettings&, const char*) {
    std::string line = "[";
    bool first = true;
    for (const DisplayInfo& d : listDisplays()) {
        if (!first) line += ",";
        first = false;
        line += "{\"id\":\"" + json_escape(utf16_to_utf8(d.displayName)) + "\",\"gpu\":\"" +
                json_escape(utf16_to_utf8(d.gpuName)) + "\",\"primary\":" +
                (d.primary ? "true" : "false") + "}";
    }
    console_out(line + "]");
}

void list_audio_devices(const EngineSettings&, const char*) {
    console_out(audio_outputs_json(listAudioOutputs()));
}

const Job kJobs[] = {
    {&EngineSettings::probeWindowCapture, 15, "Window capture probe", not_available},
    {&EngineSettings::listDisplays, 14, "Display listing", list_displays_job},
    {&EngineSettings::listAudioDevices, 7, "Audio device listing", list_audio_devices},
    {&EngineSettings::probeColorConverter, 4, "Colour converter probe", not_available},
    {&EngineSettings::probeBitrateReconfigure, 5, "Bitrate reconfigure probe", not_available},
    {&EngineSettings::probeSoftwareEncoder, 6, "CPU H.264 probe", not_available},
    {&EngineSettings::probeHevcEncoder, 12, "Hardware HEVC probe", not_available},
};

}  // namespace

std::optional<int> run_requested_job(const EngineSettings& settings) {
    for (const Job& job : kJobs) {
        if (!(settings.*job.requested)) continue;
        try {
            job.run(settings, job.description);
            return 0;
        } catch (const std::exception& e) {
            console_err(e.what());
            return job.failureCode;
        }
    }
    return std::nullopt;
}

}  // namespace zel
