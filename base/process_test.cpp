#include <gtest/gtest.h>

#include "base/fs.h"
#include "base/process.h"
#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

namespace zel {
namespace {

TEST(Process, CpuShareMeterRules) {
    CpuShareMeter meter;
    EXPECT_EQ(meter.sample(CpuTimes{100, 1000}), 0.0) << "first call only stores the pair";
    EXPECT_DOUBLE_EQ(meter.sample(CpuTimes{150, 1200}), 25.0);
    EXPECT_EQ(meter.sample(CpuTimes{160, 1200}), 0.0) << "system time did not advance";
    EXPECT_EQ(meter.sample(CpuTimes{100, 1400}), 0.0) << "process time went backwards";
    EXPECT_DOUBLE_EQ(meter.sample(CpuTimes{200, 1600}), 50.0);
}

TEST(Process, OwnFiguresAreAvailable) {
    CpuTimes t;
    ASSERT_TRUE(read_cpu_times(t));
    EXPECT_GT(t.system, 0u);
    EXPECT_GT(working_set_bytes(), 1024u * 1024u);
    EXPECT_GT(current_process_id(), 0u);
}

TEST(Process, WindowsArgumentQuoting) {
    struct Case {
        const char* arg;
        const char* quoted;
    } cases[] = {
        {"plain", "plain"},
        {"", "\"\""},
        {"two words", "\"two words\""},
        {"C:\\Program Files\\ZEL\\", "\"C:\\Program Files\\ZEL\\\\\""},
        {"say \"hi\"", "\"say \\\"hi\\\"\""},
        {"a\\\"b", "\"a\\\\\\\"b\""},
        {"C:\\no\\spaces", "C:\\no\\spaces"},
    };
    for (const auto& c : cases) EXPECT_EQ(quote_windows_argument(c.arg), c.quoted) << c.arg;
}

std::filesystem::path child_program() {
    auto p = executable_path().parent_path() / "zel_test_child";
#ifdef _WIN32
    p += ".exe";
#endif
    return p;
}

TEST(Process, RunAndCaptureGetsOutputAndExitCode) {
    const auto r = run_and_capture(
        child_program(), {"echo", "7", "two words", "q\"uote", "Kamar \xC2\xB7 TV"}, 30000);
    ASSERT_TRUE(r.started) << r.err;
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 7);
    std::string out = r.out, err = r.err;
    std::erase(out, '\r');  // a Windows console program writes CR LF
    std::erase(err, '\r');
    EXPECT_EQ(out, "two words\nq\"uote\nKamar \xC2\xB7 TV\n");
    EXPECT_EQ(err, "done\n");
}

TEST(Process, KillEndsARunningChild) {
    ChildProcess child;
    ChildProcess::Options options;
    options.captureOutput = true;
    ASSERT_TRUE(child.start(child_program(), {"sleep"}, options)) << child.error();
    EXPECT_TRUE(child.running());
    EXPECT_FALSE(child.wait(100).has_value());
    child.kill();
    EXPECT_FALSE(child.running());
    EXPECT_TRUE(child.wait(0).has_value());
}

TEST(Process, TerminateEndsARunningChildWithinItsWait) {
    ChildProcess child;
    ASSERT_TRUE(child.start(child_program(), {"sleep"}, {})) << child.error();
    EXPECT_TRUE(child.terminate(3000));
    EXPECT_FALSE(child.running());
}

TEST(Process, VerbatimWindowsCommandLineReachesTheChild) {
    // On Linux the line is ignored and the argument list is used.
    const std::string program = path_to_utf8(child_program());
    ChildProcess child;
    ChildProcess::Options options;
    options.captureOutput = true;
    options.windowsCommandLine = "\"" + program + "\" echo 0 \"a \\\"b\\\"\"";
    ASSERT_TRUE(child.start(child_program(), {"echo", "0", "a \"b\""}, options)) << child.error();
    ASSERT_EQ(child.wait(30000), 0);
    std::string out = child.standardOutput();
    std::erase(out, '\r');
    EXPECT_EQ(out, "a \"b\"\n");
}

#ifndef _WIN32
TEST(Process, ChildrenInheritNoDescriptorsBeyondTheStandardOnes) {
    const int fd = ::open("/dev/null", O_RDONLY);  // deliberately without O_CLOEXEC
    ASSERT_GE(fd, 3);
    const std::string check =
        "test -e /proc/$$/fd/" + std::to_string(fd) + " && echo open || echo closed";
    const auto r = run_and_capture("/bin/sh", {"-c", check}, 30000);
    ::close(fd);
    EXPECT_EQ(r.out, "closed\n");
}
#endif

TEST(Process, MissingProgramIsReported) {
    ChildProcess child;
    EXPECT_FALSE(child.start(child_program().parent_path() / "no-such-program", {}, {}));
    EXPECT_FALSE(child.error().empty());
}

}  // namespace
}  // namespace zel
