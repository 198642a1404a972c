#include <gtest/gtest.h>

#include "base/fs.h"
#include "engine/core/status_file.h"
#include "tests/support/temp_dir.h"

namespace zel {
namespace {

TEST(StatusFile, IdleReportHasEveryKeyInOrder) {
    ProcessFigures f;
    f.processId = 4242;
    f.processCpuPercent = 1.5;
    f.workingSetMiB = 12.25;
    f.gamepadMessage = "ViGEmBus siap \xC2\xB7 virtual Xbox 360 \xC2\xB7 hingga 4 pemain";
    const std::string expected =
        "{\"state\":\"ready\",\"message\":\"ZEL Engine siap menerima receiver\",\"backend\":\"\","
        "\"gpu\":\"\",\"display\":\"\",\"width\":0,\"height\":0,\"fps\":0,\"captureMs\":0,"
        "\"encodeMs\":0,\"bitrateMbps\":0,\"targetBitrateMbps\":0,\"mediaBitrateMbps\":0,"
        "\"injectedPacketLossPercent\":0,\"rttMs\":0,\"packetLossPercent\":0,\"decoderQueue\":0,"
        "\"mediaQueue\":0,\"avSyncMs\":0,\"audioUnderruns\":0,\"audioBufferedMs\":0,"
        "\"hostAudioPacketsPerSecond\":0,\"receiverAudioSampleRate\":0,\"audioDevice\":\"\","
        "\"audioError\":\"\",\"audioVolumePercent\":100,\"audioMuted\":false,"
        "\"cursorVisible\":false,\"cursorCapable\":false,\"startupMs\":null,"
        "\"referenceRecoveryMs\":null,\"receiverFps\":0,\"receiverTargetFps\":0,"
        "\"receiverMaxDecoderQueue\":0,\"receiverThermalStatus\":0,"
        "\"receiverAvailableMemoryMb\":0,\"receiverHevcCapable\":false,\"codec\":\"\","
        "\"audioChannels\":2,\"processId\":4242,\"processCpuPercent\":1.5,\"workingSetMiB\":12.25,"
        "\"gamepadAvailable\":false,"
        "\"gamepadMessage\":\"ViGEmBus siap \xC2\xB7 virtual Xbox 360 \xC2\xB7 hingga 4 pemain\","
        "\"engineVersion\":\"0.2.3\",\"protocolVersion\":2}";
    EXPECT_EQ(render_status_json(idle_status("ready", "ZEL Engine siap menerima receiver"), f),
              expected);
}

TEST(StatusFile, StreamingValuesAreFormattedAndEscaped) {
    StatusReport r = idle_status("error", "bad \"thing\"\n\x01here");
    r.bitrateMbps = 20;
    r.mediaBitrateMbps = 1234567.0;
    r.audioVolumePercent = 0.5f * 100;
    r.startupMs = 812.5;
    r.display = "\\\\.\\DISPLAY1";
    r.decoderQueue = -1;
    const std::string json = render_status_json(r, {});
    EXPECT_NE(json.find("\"message\":\"bad \\\"thing\\\"\\nhere\""), std::string::npos) << json;
    EXPECT_NE(json.find("\"bitrateMbps\":20,"), std::string::npos);
    EXPECT_NE(json.find("\"mediaBitrateMbps\":1.23457e+06,"), std::string::npos);
    EXPECT_NE(json.find("\"audioVolumePercent\":50,"), std::string::npos);
    EXPECT_NE(json.find("\"startupMs\":812.5,\"referenceRecoveryMs\":null,"), std::string::npos);
    EXPECT_NE(json.find("\"display\":\"\\\\\\\\.\\\\DISPLAY1\""), std::string::npos);
    EXPECT_NE(json.find("\"decoderQueue\":-1,"), std::string::npos);
}

TEST(StatusFile, WriteFillsProcessFiguresAndReplacesTheFile) {
    TempDir dir;
    const auto path = dir.path() / "status.json";
    writeStatus(path, idle_status("ready", "one"));
    writeStatus(path, idle_status("ready", "two"));
    std::string content;
    ASSERT_TRUE(read_whole_file(path, content));
    EXPECT_EQ(content.rfind("{\"state\":\"ready\",\"message\":\"two\"", 0), 0u) << content;
    EXPECT_EQ(content.back(), '}');
    EXPECT_EQ(content.find("\"processId\":0,"), std::string::npos);
    EXPECT_EQ(content.find("\"workingSetMiB\":0,"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "status.json.tmp"));
}

TEST(StatusFile, EmptyPathWritesNothing) {
    TempDir dir;
    const auto before = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    writeStatus({}, idle_status("ready", "x"));
    std::filesystem::current_path(before);
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

}  // namespace
}  // namespace zel
