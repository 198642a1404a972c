#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "base/fs.h"
#include "tests/support/temp_dir.h"

namespace zel {
namespace {

TEST(Fs, AtomicReplaceWritesAndLeavesNoTemporaryFile) {
    TempDir dir;
    const auto path = dir.path() / "status.json";
    ASSERT_TRUE(atomic_replace_file(path, "{\"a\":1}"));
    ASSERT_TRUE(atomic_replace_file(path, "{\"b\":2}"));
    std::string content;
    ASSERT_TRUE(read_whole_file(path, content));
    EXPECT_EQ(content, "{\"b\":2}");
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "status.json.tmp"));
}

TEST(Fs, FailedReplaceKeepsTheOldFile) {
    TempDir dir;
    const auto path = dir.path() / "missing-folder" / "status.json";
    EXPECT_FALSE(atomic_replace_file(path, "x"));
    std::string content = "unchanged";
    EXPECT_FALSE(read_whole_file(path, content));
    EXPECT_EQ(content, "unchanged");
}

TEST(Fs, ConcurrentReaderNeverSeesAPartialFile) {
    TempDir dir;
    const auto path = dir.path() / "status.json";
    const std::string small = "{\"state\":\"ready\"}";
    const std::string large = "{\"state\":\"streaming\",\"pad\":\"" + std::string(20000, 'x') + "\"}";
    ASSERT_TRUE(atomic_replace_file(path, small));
    std::atomic<bool> done{false};
    std::atomic<int> reads{0}, bad{0};
    std::thread reader([&] {
        while (!done) {
            std::string content;
            // On Windows a read may fail while the file is being swapped; it
            // must never return a mix.
            if (read_whole_file(path, content)) {
                ++reads;
                if (content != small && content != large) ++bad;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    for (int i = 0; i < 300; ++i) ASSERT_TRUE(atomic_replace_file(path, i % 2 ? small : large));
    done = true;
    reader.join();
    EXPECT_GT(reads.load(), 0);
    EXPECT_EQ(bad.load(), 0);
}

TEST(Fs, Utf8PathsRoundTrip) {
    const std::string name = "Kamar \xC2\xB7 TV.json";
    EXPECT_EQ(path_to_utf8(path_from_utf8(name)), name);
    EXPECT_EQ(path_to_utf8(path_from_utf16(u"Kamar \u00B7 TV.json")), name);
    TempDir dir;
    const auto path = dir.path() / path_from_utf8(name);
    ASSERT_TRUE(atomic_replace_file(path, "ok"));
    std::string content;
    ASSERT_TRUE(read_whole_file(path, content));
    EXPECT_EQ(content, "ok");
}

}  // namespace
}  // namespace zel
