// The supervisor with the real engine (readiness, reuse) and with the fake
// engine of tests/support where the engine has to misbehave on cue.
#include "host/core/engine_supervisor.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "base/fs.h"
#include "host/core/json.h"
#include "host/core/platform.h"
#include "host/core/session_token.h"
#include "host/ui/localisation.h"
#include "tests/support/engine_process.h"
#include "tests/support/temp_dir.h"

namespace zel {
namespace {

std::filesystem::path fake_engine_binary() {
    auto p = executable_path().parent_path() / "zel_fake_engine";
#ifdef _WIN32
    p += ".exe";
#endif
    return p;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    size_t start = 0;
    for (size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1) {
        out.push_back(text.substr(start, nl - start));
    }
    return out;
}

class SupervisorTest : public ::testing::Test {
  protected:
    SupervisorTest() {
        set_language_mode(kLanguageEnglish);
        std::filesystem::create_directories(install());
        choices_.accessCode = "ab2d";
    }
    ~SupervisorTest() override {
        supervisor_.reset();
        set_language_mode(kLanguageAutomatic);
    }

    std::filesystem::path install() const { return dir_.path() / "install"; }
    std::filesystem::path engineDir() const { return dir_.path() / "engine"; }

    void installEngine(const std::filesystem::path& binary, const std::string& fakeMode = {}) {
        std::filesystem::copy_file(binary, install() / engine_file_name(),
                                   std::filesystem::copy_options::overwrite_existing);
        std::filesystem::create_directories(engineDir());
        if (!fakeMode.empty()) {
            ASSERT_TRUE(atomic_replace_file(engineDir() / "fake_engine_mode", fakeMode));
        }
    }

    // The readiness pause: counted, and slept for real unless the test only
    // needs the count (so the 6-second limit can cost no time).
    EngineSupervisor& make(bool realPauses = true) {
        EngineSupervisor::Config config;
        config.installFolder = install();
        config.engineFolder = engineDir();
        config.sleepMs = [this, realPauses](int ms) {
            ++pauses_;
            pausedMs_ += ms;
            if (realPauses) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        };
        supervisor_ = std::make_unique<EngineSupervisor>(config, [this] { return choices_; });
        return *supervisor_;
    }

    TempDir dir_;
    EngineChoices choices_;
    std::unique_ptr<EngineSupervisor> supervisor_;
    std::atomic<int> pauses_{0};
    std::atomic<int> pausedMs_{0};
};

TEST_F(SupervisorTest, CodeWithACharacterOutsideTheAlphabetIsRefused) {
    installEngine(fake_engine_binary());
    choices_.accessCode = "AB1D";
    auto& s = make();
    EXPECT_FALSE(s.startEngine({}, false));
    EXPECT_EQ(s.lastError(), "Enter the complete 4-character device code");
    EXPECT_FALSE(s.engineRunning());
    EXPECT_FALSE(std::filesystem::exists(engineDir() / engine_file_name()));
}

TEST_F(SupervisorTest, MissingEngineInTheInstallFolderIsReported) {
    auto& s = make();
    EXPECT_FALSE(s.startEngine({}, false));
    EXPECT_EQ(s.lastError(), "ZEL Engine runtime not found in the app folder");
}

TEST_F(SupervisorTest, RealEngineStartsOnceAndIsReusedForTheSameSettings) {
    installEngine(engine_binary());
    choices_.audioMuted = true;
    auto& s = make();
    ASSERT_TRUE(s.startEngine({}, false)) << s.lastError();
    const uint32_t pid = s.enginePid();
    EXPECT_NE(pid, 0u);
    std::string control;
    ASSERT_TRUE(read_whole_file(s.controlPath(), control));
    EXPECT_EQ(control, "{\"audioVolume\":1.0,\"audioMuted\":true,\"showCursor\":false}");

    ASSERT_TRUE(s.startEngine({}, false)) << s.lastError();
    EXPECT_EQ(s.enginePid(), pid);

    const StatusView v = s.pollStatus();
    EXPECT_TRUE(v.update);
    EXPECT_EQ(v.header, "ZEL ENGINE ACTIVE");
    EXPECT_EQ(v.detail, "ZEL Engine siap menerima receiver");

    s.stopEngine();
    EXPECT_FALSE(s.engineRunning());
    EXPECT_EQ(s.runningKey(), "");
}

TEST_F(SupervisorTest, EngineReceivesTheCommandLineValuesUnchanged) {
    installEngine(fake_engine_binary());
    choices_.audioDeviceId = "{0.0.0.00000000}.{ab}";
    choices_.audioFormatIndex = 2;
    choices_.captureApplication = "My \"Game\" \\ Deluxe";
    choices_.captureWindowTitle = "Title ending in \\";
    choices_.showCursor = true;
    auto& s = make();
    ASSERT_TRUE(s.startEngine({1280, 720, 30, 8, "h264", false}, false)) << s.lastError();
    std::string recorded;
    ASSERT_TRUE(eventually(
        [&] { return read_whole_file(engineDir() / "fake_engine_args.txt", recorded); }, 10000));
    const std::vector<std::string> expected = {"--status-file",
                                               path_to_utf8(engineDir() / "status.json"),
                                               "--visual-profile",
                                               "G",
                                               "--width",
                                               "1280",
                                               "--height",
                                               "720",
                                               "--fps",
                                               "30",
                                               "--bitrate-mbps",
                                               "8",
                                               "--video-codec",
                                               "h264",
                                               "--audio-device",
                                               "{0.0.0.00000000}.{ab}",
                                               "--audio-volume",
                                               "1.0",
                                               "--audio-channels",
                                               "6",
                                               "--control-file",
                                               path_to_utf8(engineDir() / "control.json"),
                                               "--session-token",
                                               std::to_string(sessionToken("AB2D")),
                                               "--capture-application",
                                               "My \"Game\" \\ Deluxe",
                                               "--capture-window-title",
                                               "Title ending in \\",
                                               "--fixed-bitrate",
                                               "--show-cursor"};
    auto actual = lines(recorded);
    ASSERT_EQ(actual.size(), expected.size()) << recorded;
    for (size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(actual[i], expected[i]) << i;
    EXPECT_NE(s.lastCommandLine().find(" --capture-window-title \"Title ending in \\\\\""),
              std::string::npos)
        << s.lastCommandLine();
}

TEST_F(SupervisorTest, ChangedAudioDeviceWhileStreamingIsRefusedUnlessForced) {
    installEngine(fake_engine_binary());
    auto& s = make();
    ASSERT_TRUE(s.startEngine({}, false)) << s.lastError();
    const uint32_t pid = s.enginePid();
    // The engine now reports a session.
    ASSERT_TRUE(atomic_replace_file(s.statusPath(), R"({"state":"streaming","message":"x"})"));

    ASSERT_TRUE(s.startEngine({}, false)) << "same settings are kept while streaming";
    choices_.audioDeviceId = "{other}";
    EXPECT_FALSE(s.startEngine({}, false));
    EXPECT_EQ(s.lastError(), "Stop streaming before changing preset or audio");
    EXPECT_EQ(s.enginePid(), pid);

    ASSERT_TRUE(s.startEngine({}, true)) << s.lastError();
    EXPECT_NE(s.enginePid(), 0u);
    EXPECT_NE(s.enginePid(), pid);
}

TEST_F(SupervisorTest, EngineThatExitsDuringStartUpIsReportedAtTheNextCheck) {
    installEngine(fake_engine_binary(), "exit");
    auto& s = make();
    EXPECT_FALSE(s.startEngine({}, false));
    EXPECT_EQ(s.lastError(), "ZEL Engine berhenti saat startup");
    // Noticed as an exit, not by running out of attempts.
    EXPECT_LT(pauses_.load(), EngineSupervisor::kReadyAttempts);
}

TEST_F(SupervisorTest, EngineThatNeverBecomesReadyIsReportedAfterSixSecondsAndKeepsRunning) {
    installEngine(fake_engine_binary(), "never-ready");
    auto& s = make(/*realPauses=*/false);
    EXPECT_FALSE(s.startEngine({}, false));
    EXPECT_EQ(s.lastError(), "ZEL Engine did not open port 48300");
    EXPECT_EQ(pauses_.load(), 60);
    EXPECT_EQ(pausedMs_.load(), 6000);
    EXPECT_TRUE(s.engineRunning());
    EXPECT_EQ(s.runningKey(), "");
    s.stopEngine();
    EXPECT_FALSE(s.engineRunning());
}

TEST_F(SupervisorTest, ControlFileIsReplacedWhole) {
    auto& s = make();
    choices_.showCursor = true;
    ASSERT_TRUE(s.writeControlFile());
    std::string control;
    ASSERT_TRUE(read_whole_file(s.controlPath(), control));
    EXPECT_EQ(control, "{\"audioVolume\":1.0,\"audioMuted\":false,\"showCursor\":true}");
    EXPECT_FALSE(std::filesystem::exists(engineDir() / "control.json.tmp"));
    s.stopEngine();  // nothing runs: harmless
}

TEST_F(SupervisorTest, AudioDeviceListingReadsIdsAndNames) {
    installEngine(fake_engine_binary());
    std::filesystem::copy_file(fake_engine_binary(), install() / engine_file_name(),
                               std::filesystem::copy_options::overwrite_existing);
    auto& s = make();
    const auto devices = s.listEngineAudioDevices();
    ASSERT_EQ(devices.size(), 2u);
    EXPECT_EQ(devices[0].id, "{0.0.0.00000000}.{a1}");
    EXPECT_EQ(devices[0].name, "Speakers \"Living\"");
    EXPECT_EQ(devices[1].id, "{0.0.0.00000000}.{b2}");
    EXPECT_EQ(devices[1].name, "HDMI \xC2\xB7 TV");
}

TEST_F(SupervisorTest, HangingAudioDeviceListingGivesAnEmptyList) {
    installEngine(fake_engine_binary());
    // The listing runs in the install folder, so the mode file goes there.
    ASSERT_TRUE(atomic_replace_file(install() / "fake_engine_mode", "hang-listing"));
    auto& s = make();
    EXPECT_TRUE(s.listEngineAudioDevices().empty());
}

}  // namespace
}  // namespace zel
