// The real engine binary, started as a user or the host starts it.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "base/fs.h"
#include "base/net.h"
#include "base/process.h"
#include "tests/support/engine_process.h"
#include "tests/support/temp_dir.h"
#ifndef _WIN32
#include "tests/support/xvfb.h"
#endif

namespace zel {
namespace {

constexpr int kRunTimeoutMs = 60000;

// Windows consoles end lines with CR LF; compare texts without the CR.
std::string lf(std::string s) {
    std::erase(s, '\r');
    return s;
}

TEST(EngineCli, RefusalsExitWithTheirCodeAndMessage) {
    struct Case {
        std::vector<std::string> args;
        int code;
        std::string stderrText;
    } cases[] = {
        {{"--video-codec", "H264"}, 2, ""},
        {{"--width", "1920"},
         6,
         "Supported resolutions are native, 1280x720, 1920x1080, 2560x1440, or 3840x2160\n"},
        {{"--visual-profile", "a"}, 9, "Visual profile must be A, B, C, D, E, F, or G\n"},
        {{"--test-drop-video-every", "0", "--test-drop-delay-seconds", "0"},
         8,
         "Test impairment requires interval >=2, delay 1..30, and duration 1..60 seconds\n"},
        {{"--capture-width", "63", "--capture-height", "64"},
         16,
         "Capture region width and height must be even and at least 64\n"},
        {{"--fps", "59"}, 11, "FPS must be 30, 60, 120, or 144\n"},
        {{"--audio-channels", "7"}, 10, "Audio channels must be auto, 2, 6, or 8\n"},
    };
    for (const auto& c : cases) {
        const RunResult r = run_and_capture(engine_binary(), c.args, kRunTimeoutMs);
        ASSERT_TRUE(r.started) << r.err;
        EXPECT_EQ(r.exitCode, c.code) << c.args[0];
        EXPECT_EQ(lf(r.err), c.stderrText) << c.args[0];
        EXPECT_EQ(r.out, "") << c.args[0];
    }
}

TEST(EngineCli, JobsRunInTheirOrderAndFailWithTheirOwnCode) {
    struct Case {
        std::vector<std::string> args;
        int code;
    } cases[] = {
        {{"--probe-software-encoder", "--probe-window-capture"}, 15},
        {{"--probe-color-converter"}, 4},
        {{"--probe-bitrate-reconfigure"}, 5},
        {{"--probe-hevc-encoder"}, 12},
    };
    for (const auto& c : cases) {
        const RunResult r = run_and_capture(engine_binary(), c.args, kRunTimeoutMs);
        ASSERT_TRUE(r.started);
        EXPECT_EQ(r.exitCode, c.code) << c.args[0];
        EXPECT_FALSE(r.err.empty()) << "a failing job says why";
        EXPECT_EQ(r.out.find("listening"), std::string::npos) << "jobs never listen";
    }
}

#ifndef _WIN32
TEST(EngineCli, ListsTheDisplaysOfTheXServer) {
    XvfbServer xvfb;
    if (!xvfb.ok()) GTEST_SKIP() << "Xvfb is not available";
    const RunResult r = run_and_capture(engine_binary(), {"--probe-hevc-encoder", "--list-displays"},
                                        kRunTimeoutMs);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "[{\"id\":\"screen\",\"gpu\":\"X11 The X.Org Foundation\",\"primary\":true}]\n");
}
#endif

// The audio listing runs before the colour-converter probe and either prints
// one JSON array line (a machine may have no outputs: "[]") or fails with
// its own code and reason (no sound server).
TEST(EngineCli, AudioListingIsOneJsonLineOrItsOwnFailure) {
    const RunResult r = run_and_capture(
        engine_binary(), {"--list-audio-devices", "--probe-color-converter"}, kRunTimeoutMs);
    ASSERT_TRUE(r.started);
    if (r.exitCode == 0) {
        const std::string out = lf(r.out);
        ASSERT_GE(out.size(), 3u) << out;
        EXPECT_EQ(out.front(), '[');
        EXPECT_EQ(out.substr(out.size() - 2), "]\n");
        EXPECT_EQ(out.find('\n'), out.size() - 1) << "one line";
        EXPECT_TRUE(out == "[]\n" || out.find("{\"id\":\"") == 1) << out;
    } else {
        EXPECT_EQ(r.exitCode, 7);
        EXPECT_FALSE(r.err.empty());
        EXPECT_EQ(r.out, "");
    }
}

// Connects to the engine and leaves without saying anything; waits until the
// engine has closed its side.
bool knock() {
    net::Socket s = net::tcp_socket();
    if (!net::connect(s, {net::kLoopbackAddress, 48300}, 2000)) return false;
    net::shutdown_send(s);
    net::set_receive_timeout(s, 5000);
    char byte;
    size_t got = 0;
    return net::receive_some(s, &byte, 1, got) == net::IoStatus::Closed;
}

std::string read_status(const std::filesystem::path& path) {
    std::string content;
    read_whole_file(path, content);
    return content;
}

TEST(EngineListening, ReadyStatusSurvivesClientsAndRefusesASecondEngine) {
    ASSERT_TRUE(net::startup());
    TempDir dir;
    const auto status = dir.path() / "status.json";
    EngineProcess engine;
    ASSERT_TRUE(engine.start({"--status-file", path_to_utf8(status)}));
    ASSERT_TRUE(engine.waitListening()) << engine.child().standardError();

    ASSERT_TRUE(eventually([&] { return !read_status(status).empty(); }, 10000));
    const std::string ready = read_status(status);
    EXPECT_EQ(
        ready.rfind("{\"state\":\"ready\",\"message\":\"ZEL Engine siap menerima receiver\",", 0),
        0u)
        << ready;
    for (const char* piece :
         {"\"audioVolumePercent\":100,", "\"startupMs\":null,", "\"audioChannels\":2,",
          "\"engineVersion\":\"0.2.3\",", "\"protocolVersion\":2}"}) {
        EXPECT_NE(ready.find(piece), std::string::npos) << piece;
    }

    // Clients come and go while a reader polls the file every millisecond, as
    // the host does (only faster): every read is a whole object.
    std::atomic<bool> done{false};
    std::atomic<int> reads{0}, partial{0};
    std::thread reader([&] {
        while (!done) {
            const std::string s = read_status(status);
            if (!s.empty()) {
                ++reads;
                if (s.front() != '{' || s.back() != '}' ||
                    s.find("\"protocolVersion\":2}") == std::string::npos) {
                    ++partial;
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    for (int i = 0; i < 30; ++i) EXPECT_TRUE(knock());
    // The receivers left before their capability packet: failed sessions,
    // reported as such, and the engine listens on. (EXPECT, not ASSERT: the
    // reader thread must be joined whatever happens.)
    EXPECT_TRUE(eventually(
        [&] {
            return read_status(status).find("{\"state\":\"error\",\"message\":\"Receiver closed "
                                            "during capability negotiation\"") != std::string::npos;
        },
        10000))
        << read_status(status);
    done = true;
    reader.join();
    EXPECT_GT(reads.load(), 0);
    EXPECT_EQ(partial.load(), 0);
    EXPECT_TRUE(engine.child().running()) << "clients that leave do not stop the engine";

    const RunResult second = run_and_capture(engine_binary(), {}, kRunTimeoutMs);
    EXPECT_EQ(second.exitCode, 3);
    EXPECT_TRUE(knock()) << "the first engine still listens";
    net::cleanup();
}

TEST(EngineListening, StatusFileAsLastArgumentWritesNothing) {
    TempDir dir;
    EngineProcess engine;
    ASSERT_TRUE(engine.start({"--fps", "30", "--status-file"}, dir.path()));
    ASSERT_TRUE(engine.waitListening()) << engine.child().standardError();
    ASSERT_TRUE(net::startup());
    EXPECT_TRUE(knock());
    net::cleanup();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

}  // namespace
}  // namespace zel
