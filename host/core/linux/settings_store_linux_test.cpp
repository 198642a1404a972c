#include <gtest/gtest.h>
#include <stdlib.h>

#include "base/fs.h"
#include "host/core/engine_supervisor.h"
#include "host/core/folders.h"
#include "host/core/settings_store.h"
#include "tests/support/engine_process.h"
#include "tests/support/temp_dir.h"

namespace zel {
namespace {

TEST(LinuxSettingsStore, DamagedLinesAndCrashLeftoversDoNotCostOtherValues) {
    TempDir dir;
    ASSERT_TRUE(atomic_replace_file(dir.path() / "settings",
                                    "TvAddress\tsz\t10.0.0.9\n"
                                    "garbage line\n"
                                    "AudioMuted\tdword\tnot-a-number\n"
                                    "ShowCursor\tdword\t1\n"
                                    "\tsz\tnameless\n"
                                    "Odd\tblob\tx\n"
                                    "Lang"));
    // A writer that died between writing the temporary file and renaming it.
    ASSERT_TRUE(atomic_replace_file(dir.path() / "settings.tmp.keep", "half"));
    std::filesystem::rename(dir.path() / "settings.tmp.keep", dir.path() / "settings.tmp");

    auto store = make_settings_store(path_to_utf8(dir.path()));
    EXPECT_EQ(store->readText("TvAddress"), "10.0.0.9");
    EXPECT_EQ(store->readNumber("ShowCursor"), 1u);
    EXPECT_EQ(store->readNumber("AudioMuted"), std::nullopt);
    ASSERT_TRUE(store->writeText("Language", "id"));
    EXPECT_EQ(store->readText("TvAddress"), "10.0.0.9");
    EXPECT_EQ(store->readText("Language"), "id");
    EXPECT_FALSE(store->writeText("Bad\tName", "x"));
}

TEST(LinuxSettingsStore, LivesInTheXdgConfigFolder) {
    TempDir dir;
    const char* old = std::getenv("XDG_CONFIG_HOME");
    const std::string saved = old ? old : "";
    ::setenv("XDG_CONFIG_HOME", dir.path().c_str(), 1);
    EXPECT_EQ(default_host_folders().roaming, dir.path() / "zel-stream-host");
    EXPECT_EQ(default_host_folders().legacySettingsFile(),
              dir.path() / "zel-stream-host" / "config.json");
    ASSERT_TRUE(make_settings_store()->writeText("TvAddress", "10.1.2.3"));
    EXPECT_TRUE(std::filesystem::exists(dir.path() / "zel-stream-host" / "settings"));
    // A relative value is not an XDG folder.
    ::setenv("XDG_CONFIG_HOME", "relative/dir", 1);
    EXPECT_NE(default_host_folders().roaming,
              std::filesystem::path("relative/dir/zel-stream-host"));
    if (old) {
        ::setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
    } else {
        ::unsetenv("XDG_CONFIG_HOME");
    }
}

TEST(LinuxSteam, BigPictureStartsTheSteamFoundOnPath) {
    TempDir dir;
    const auto steam = dir.path() / "steam";
    // Shell built-ins only: the launcher's PATH holds nothing but this folder.
    ASSERT_TRUE(atomic_replace_file(steam, "#!/bin/sh\necho \"$@\" > \"$PWD/steam_args\"\n"));
    std::filesystem::permissions(steam, std::filesystem::perms::owner_all);
    const char* old = std::getenv("PATH");
    const std::string saved = old ? old : "";
    ::setenv("PATH",
             (path_to_utf8(dir.path() / "missing") + ":" + path_to_utf8(dir.path())).c_str(), 1);
    const bool started = launchSteamBigPicture();
    ::setenv("PATH", "/nonexistent", 1);
    const bool withoutSteam = launchSteamBigPicture();
    ::setenv("PATH", saved.c_str(), 1);
    ASSERT_TRUE(started);
    EXPECT_FALSE(withoutSteam);
    std::string args;
    EXPECT_TRUE(eventually(
        [&] { return read_whole_file(dir.path() / "steam_args", args) && !args.empty(); }, 10000));
    EXPECT_EQ(args, "-gamepadui steam://open/bigpicture\n");
}

}  // namespace
}  // namespace zel
