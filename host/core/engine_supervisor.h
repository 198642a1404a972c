#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "base/process.h"
#include "host/core/engine_command.h"
#include "host/core/status_view.h"

namespace zel {

struct AudioDeviceEntry {
    std::string id;
    std::string name;
};

// Runs at most one engine process: copies the engine from the install folder
// into the private engine folder, starts it there with the command line of
// the profile and the window's choices, waits until it reports "ready", keeps
// the control file current, turns the status file into a display, and stops
// the engine by terminating it.
//
// startEngine runs on worker threads and is serialised by its own lock; the
// engine process is shared with the window thread's stopEngine under another;
// the control file has a third. pollStatus belongs to the window thread.
class EngineSupervisor {
  public:
    struct Config {
        std::filesystem::path installFolder;
        std::filesystem::path engineFolder;
        // Pause between readiness checks; null: a real sleep. Tests replace it
        // so the 6-second readiness limit does not cost 6 seconds.
        std::function<void(int ms)> sleepMs;
    };
    // Reads the window's current choices (access code, audio, capture, check
    // boxes); called at each start and control-file write.
    using ChoicesSource = std::function<EngineChoices()>;

    EngineSupervisor(Config config, ChoicesSource choices);
    // Stops a running engine.
    ~EngineSupervisor();
    EngineSupervisor(const EngineSupervisor&) = delete;
    EngineSupervisor& operator=(const EngineSupervisor&) = delete;

    // Makes sure an engine with exactly these settings runs and is ready.
    // False with lastError() set otherwise. force: replace an engine that is
    // streaming (a quality change) instead of refusing.
    bool startEngine(const StreamProfile& profile, bool force);
    // Terminates the engine if it runs (waiting up to 3 s) and forgets its key.
    void stopEngine();
    // Rewrites control.json whole from the current mute and cursor choices.
    bool writeControlFile();
    // Reads status.json once; an empty or missing file leaves the display as it is.
    StatusView pollStatus(const PollContext& context = {});
    // Runs the install folder's engine with --list-audio-devices (at most 5 s).
    // Empty on any failure.
    std::vector<AudioDeviceEntry> listEngineAudioDevices();

    std::string lastError() const;
    bool engineRunning();
    uint32_t enginePid();
    std::string runningKey();
    // The last status file text that pollStatus read (empty before).
    std::string lastStatusText() const;
    // The command line of the last start, as handed to the system.
    std::string lastCommandLine() const;
    const std::filesystem::path& statusPath() const { return statusPath_; }
    const std::filesystem::path& controlPath() const { return controlPath_; }
    // Runs at the start of every stop (the window restores a local output it
    // muted for receiver-only audio).
    void setBeforeStop(std::function<void()> hook);

    static constexpr int kReadyAttempts = 60;
    static constexpr int kReadyPauseMs = 100;

  private:
    void fail(std::string text);
    std::string statusState();

    Config config_;
    ChoicesSource choices_;
    std::filesystem::path statusPath_, controlPath_;

    std::mutex startLock_;
    std::mutex engineLock_;  // engine_, runningKey_
    // Shared so a start waiting for readiness keeps its process object alive
    // even when the window thread stops the engine meanwhile.
    std::shared_ptr<ChildProcess> engine_;
    std::string runningKey_;
    std::mutex controlLock_;
    mutable std::mutex infoLock_;  // lastError_, lastStatusText_, lastCommandLine_, beforeStop_
    std::string lastError_, lastStatusText_, lastCommandLine_;
    std::function<void()> beforeStop_;
};

// Opens Steam in Big Picture mode: "<steam> -gamepadui steam://open/bigpicture"
// from Steam's folder. False when Steam is not found or did not start.
bool launchSteamBigPicture();

}  // namespace zel
