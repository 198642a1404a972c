#include "host/core/engine_supervisor.h"

#include <chrono>
#include <system_error>
#include <thread>

#include "base/fs.h"
#include "host/core/json.h"
#include "host/core/platform.h"
#include "host/core/session_token.h"
#include "host/ui/localisation.h"

namespace zel {

namespace {

// Copies through a temporary name and renames it over the target, so a
// half-copied engine is never left under the real name.
bool copy_replacing(const std::filesystem::path& from, const std::filesystem::path& to,
                    std::string& error) {
    std::filesystem::path temp = to;
    temp += ".tmp";
    std::error_code ec;
    std::filesystem::copy_file(from, temp, std::filesystem::copy_options::overwrite_existing, ec);
    if (!ec) std::filesystem::rename(temp, to, ec);
    if (ec) {
        std::error_code ignored;
        std::filesystem::remove(temp, ignored);
        error = ec.message();
        return false;
    }
    return true;
}

}  // namespace

EngineSupervisor::EngineSupervisor(Config config, ChoicesSource choices)
    : config_(std::move(config)),
      choices_(std::move(choices)),
      statusPath_(config_.engineFolder / "status.json"),
      controlPath_(config_.engineFolder / "control.json") {
    if (!config_.sleepMs) {
        config_.sleepMs = [](int ms) {
            std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        };
    }
}

EngineSupervisor::~EngineSupervisor() {
    stopEngine();
}

void EngineSupervisor::fail(std::string text) {
    std::lock_guard<std::mutex> g(infoLock_);
    lastError_ = std::move(text);
}

std::string EngineSupervisor::lastError() const {
    std::lock_guard<std::mutex> g(infoLock_);
    return lastError_;
}

std::string EngineSupervisor::lastStatusText() const {
    std::lock_guard<std::mutex> g(infoLock_);
    return lastStatusText_;
}

std::string EngineSupervisor::lastCommandLine() const {
    std::lock_guard<std::mutex> g(infoLock_);
    return lastCommandLine_;
}

void EngineSupervisor::setBeforeStop(std::function<void()> hook) {
    std::lock_guard<std::mutex> g(infoLock_);
    beforeStop_ = std::move(hook);
}

bool EngineSupervisor::engineRunning() {
    std::lock_guard<std::mutex> g(engineLock_);
    return engine_ && engine_->running();
}

uint32_t EngineSupervisor::enginePid() {
    std::lock_guard<std::mutex> g(engineLock_);
    return engine_ && engine_->running() ? engine_->pid() : 0;
}

std::string EngineSupervisor::runningKey() {
    std::lock_guard<std::mutex> g(engineLock_);
    return runningKey_;
}

std::string EngineSupervisor::statusState() {
    std::string content;
    if (!read_whole_file(statusPath_, content)) return {};
    return jsonString(content, "state");
}

bool EngineSupervisor::startEngine(const StreamProfile& profile, bool force) {
    std::lock_guard<std::mutex> start(startLock_);
    const EngineChoices choices = choices_();

    const uint64_t token = sessionToken(choices.accessCode);
    if (normalise_access_code(choices.accessCode).size() != 4 || token == 0) {
        fail(text("host_message_83"));
        return false;
    }

    const std::string key = configuration_key(profile, choices, token);
    bool running = false;
    {
        std::lock_guard<std::mutex> g(engineLock_);
        running = engine_ && engine_->running();
        if (running && runningKey_ == key) return true;
    }
    if (running && !force && statusState() == "streaming") {
        fail(text("host_message_84"));
        return false;
    }
    stopEngine();

    const std::filesystem::path installedEngine = config_.installFolder / engine_file_name();
    std::error_code ec;
    if (!std::filesystem::is_regular_file(installedEngine, ec)) {
        fail(text("host_message_85"));
        return false;
    }
    std::filesystem::create_directories(config_.engineFolder, ec);
    const std::filesystem::path engineCopy = config_.engineFolder / engine_file_name();
    std::string copyError;
    if (!copy_replacing(installedEngine, engineCopy, copyError)) {
        fail(text("host_message_86") + copyError);
        return false;
    }
    // The oneVPL runtime is optional: without it the engine picks another encoder.
    const std::string vpl = vpl_runtime_file_name();
    if (!vpl.empty() && std::filesystem::is_regular_file(config_.installFolder / vpl, ec)) {
        if (!copy_replacing(config_.installFolder / vpl, config_.engineFolder / vpl, copyError)) {
            fail(text("host_message_87") + copyError);
            return false;
        }
    }

    writeControlFile();
    std::filesystem::remove(statusPath_, ec);

    const auto tokens =
        engine_command_tokens(engineCopy, statusPath_, controlPath_, profile, choices, token);
    std::vector<std::string> args;
    for (size_t i = 1; i < tokens.size(); ++i) args.push_back(tokens[i].text);
    ChildProcess::Options options;
    options.workingDirectory = config_.engineFolder;
    options.hideWindow = true;
    options.windowsCommandLine = windows_command_line(tokens);
    {
        std::lock_guard<std::mutex> g(infoLock_);
        lastCommandLine_ = options.windowsCommandLine;
    }
    auto child = std::make_shared<ChildProcess>();
    if (!child->start(engineCopy, args, options)) {
        fail(text("host_message_88") + child->error());
        return false;
    }
    const std::shared_ptr<ChildProcess> process = child;
    {
        std::lock_guard<std::mutex> g(engineLock_);
        engine_ = std::move(child);
    }

    for (int attempt = 0; attempt < kReadyAttempts; ++attempt) {
        if (statusState() == "ready") {
            std::lock_guard<std::mutex> g(engineLock_);
            // A stop on the window thread may have ended this engine meanwhile.
            if (engine_ != process) {
                fail("ZEL Engine berhenti saat startup");
                return false;
            }
            runningKey_ = key;
            return true;
        }
        if (!process->running()) {
            fail("ZEL Engine berhenti saat startup");
            return false;
        }
        config_.sleepMs(kReadyPauseMs);
    }
    // Left running: the next start or stop ends it.
    fail(text("host_message_89"));
    return false;
}

void EngineSupervisor::stopEngine() {
    std::function<void()> hook;
    {
        std::lock_guard<std::mutex> g(infoLock_);
        hook = beforeStop_;
    }
    if (hook) hook();
    std::shared_ptr<ChildProcess> engine;
    {
        std::lock_guard<std::mutex> g(engineLock_);
        engine = std::move(engine_);
        runningKey_.clear();
    }
    if (engine && engine->running()) engine->terminate(3000);
}

bool EngineSupervisor::writeControlFile() {
    const EngineChoices choices = choices_();
    std::lock_guard<std::mutex> g(controlLock_);
    std::error_code ec;
    std::filesystem::create_directories(config_.engineFolder, ec);
    const std::string content = std::string("{\"audioVolume\":1.0,\"audioMuted\":") +
                                (choices.audioMuted ? "true" : "false") +
                                ",\"showCursor\":" + (choices.showCursor ? "true" : "false") + "}";
    return atomic_replace_file(controlPath_, content);
}

StatusView EngineSupervisor::pollStatus(const PollContext& context) {
    std::string content;
    if (!read_whole_file(statusPath_, content) || content.empty()) return {};
    {
        std::lock_guard<std::mutex> g(infoLock_);
        lastStatusText_ = content;
    }
    return status_view(content, context);
}

std::vector<AudioDeviceEntry> EngineSupervisor::listEngineAudioDevices() {
    ChildProcess child;
    ChildProcess::Options options;
    options.workingDirectory = config_.installFolder;
    options.captureOutput = true;
    if (!child.start(config_.installFolder / engine_file_name(), {"--list-audio-devices"},
                     options)) {
        return {};
    }
    // A listing that hangs is ended rather than waited for without limit.
    const auto code = child.wait(5000);
    if (!code) {
        child.kill();
        return {};
    }
    if (*code != 0) return {};
    const std::string out = child.standardOutput();
    std::vector<AudioDeviceEntry> devices;
    for (size_t at = out.find("\"id\""); at != std::string::npos; at = out.find("\"id\"", at + 1)) {
        const std::string_view rest = std::string_view(out).substr(at);
        AudioDeviceEntry entry{jsonString(rest, "id"), jsonString(rest, "name")};
        if (!entry.id.empty() && !entry.name.empty()) devices.push_back(std::move(entry));
    }
    return devices;
}

bool launchSteamBigPicture() {
    const std::filesystem::path steam = find_steam_executable();
    if (steam.empty()) return false;
    return launch_detached(steam, {"-gamepadui", "steam://open/bigpicture"}, steam.parent_path());
}

}  // namespace zel
