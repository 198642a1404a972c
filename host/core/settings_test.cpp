#include "host/core/settings.h"

#include <gtest/gtest.h>

#include <regex>
#include <thread>

#include "base/fs.h"
#include "tests/support/temp_dir.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace zel {
namespace {

// A private store: a folder under a temp folder on Linux, a throw-away subkey
// of HKEY_CURRENT_USER on Windows (removed afterwards).
class SettingsTest : public ::testing::Test {
  protected:
    SettingsTest() {
#ifdef _WIN32
        location_ = "Software\\ZEL Stream Host Test\\" + dir_.path().filename().string();
#else
        location_ = path_to_utf8(dir_.path() / "config");
#endif
        store_ = make_settings_store(location_);
        settings_ = std::make_unique<HostSettings>(*store_, legacyFile());
    }
    ~SettingsTest() override {
#ifdef _WIN32
        ::RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\ZEL Stream Host Test");
#endif
    }
    std::filesystem::path legacyFile() const {
        return dir_.path() / "config.json";
    }
    void writeLegacy(const std::string& content) {
        ASSERT_TRUE(atomic_replace_file(legacyFile(), content));
    }

    TempDir dir_;
    std::string location_;
    std::unique_ptr<SettingsStore> store_;
    std::unique_ptr<HostSettings> settings_;
};

TEST_F(SettingsTest, LegacyNumbersMigrateOnceAndUnparsableOnesWriteNothing) {
    writeLegacy(R"({"audio_muted": true, "show_cursor": false, "minimize_to_tray": "yes",
                    "capture_region_x": 640, "capture_region_y": -3})");
    struct Case {
        const char* name;
        const char* jsonKey;
        uint32_t fallback;
        uint32_t expected;
        std::optional<uint32_t> stored;
    } cases[] = {
        {"AudioMuted", "audio_muted", 0, 1, 1},
        {"ShowCursor", "show_cursor", 1, 0, 0},
        {"MinimizeToTray", "minimize_to_tray", 1, 1, std::nullopt},
        {"CaptureRegionX", "capture_region_x", 0, 640, 640},
        {"CaptureRegionY", "capture_region_y", 5, 5, std::nullopt},
        {"CaptureRegionWidth", "capture_region_width", 0, 0, std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(settings_->readDword(c.name, c.jsonKey, c.fallback), c.expected) << c.name;
        EXPECT_EQ(store_->readNumber(c.name), c.stored) << c.name;
    }
    // Once stored, the store wins over the legacy file.
    writeLegacy(R"({"audio_muted": false})");
    EXPECT_EQ(settings_->readDword("AudioMuted", "audio_muted", 0), 1u);
}

TEST_F(SettingsTest, AllOnesCountsAsAbsent) {
    ASSERT_TRUE(store_->writeNumber("ShowCursor", 0xFFFFFFFF));
    EXPECT_EQ(settings_->readDword("ShowCursor", "show_cursor", 0), 0u);
    writeLegacy(R"({"show_cursor": "1"})");
    EXPECT_EQ(settings_->readDword("ShowCursor", "show_cursor", 0), 1u);
    EXPECT_EQ(store_->readNumber("ShowCursor"), 1u);
}

TEST_F(SettingsTest, TextsMigrateWhenTheStoreHasNoneOrAnEmptyOne) {
    writeLegacy(
        R"({"tv_address": "10.0.0.5", "audio_device_id": "", "capture_output": "\\\\.\\DISPLAY2"})");
    ASSERT_TRUE(store_->writeText("TvAddress", ""));
    EXPECT_EQ(settings_->readString("TvAddress", "x"), "");  // an empty stored text is a value
    EXPECT_EQ(settings_->readStringMigrating("TvAddress", "tv_address", "192.168.1.12"),
              "10.0.0.5");
    EXPECT_EQ(store_->readText("TvAddress"), "10.0.0.5");
    EXPECT_EQ(settings_->readStringMigrating("CaptureOutput", "capture_output", ""),
              "\\\\.\\DISPLAY2");
    EXPECT_EQ(settings_->readStringMigrating("AudioDeviceId", "audio_device_id", "default"),
              "default");
    EXPECT_EQ(store_->readText("AudioDeviceId"), std::nullopt);
    EXPECT_EQ(settings_->readString("Language", "auto"), "auto");
}

TEST_F(SettingsTest, MissingOrBrokenLegacyFileGivesDefaults) {
    EXPECT_EQ(settings_->readStringMigrating("MouseMode", "mouse_mode", "desktopAbsolute"),
              "desktopAbsolute");
    writeLegacy("\x01\x02 not json {{{");
    EXPECT_EQ(settings_->readDword("MinimizeToTray", "minimize_to_tray", 1), 1u);
    EXPECT_EQ(store_->readNumber("MinimizeToTray"), std::nullopt);
}

TEST_F(SettingsTest, ValuesRoundTripWithTheirType) {
    const std::string awkward = "line1\nline2\ttab \\ back \"q\" Kamar \xC2\xB7 TV";
    ASSERT_TRUE(store_->writeText("SavedReceivers", awkward));
    ASSERT_TRUE(store_->writeNumber("CaptureRegionHeight", 4000000000u));
    EXPECT_EQ(store_->readText("SavedReceivers"), awkward);
    EXPECT_EQ(store_->readNumber("CaptureRegionHeight"), 4000000000u);
    // A value of the other type is not there.
    EXPECT_EQ(store_->readNumber("SavedReceivers"), std::nullopt);
    EXPECT_EQ(store_->readText("CaptureRegionHeight"), std::nullopt);
    // A second store object on the same place sees the values.
    auto again = make_settings_store(location_);
    EXPECT_EQ(again->readText("SavedReceivers"), awkward);
    EXPECT_TRUE(again->remove("SavedReceivers"));
    EXPECT_TRUE(again->remove("SavedReceivers"));
    EXPECT_EQ(store_->readText("SavedReceivers"), std::nullopt);
}

TEST_F(SettingsTest, ConcurrentWritersLoseNothing) {
    constexpr int kWriters = 4, kValues = 25;
    std::vector<std::thread> writers;
    for (int w = 0; w < kWriters; ++w) {
        writers.emplace_back([&, w] {
            auto own = make_settings_store(location_);  // its own file handle / key handle
            for (int i = 0; i < kValues; ++i) {
                own->writeNumber("W" + std::to_string(w) + "_" + std::to_string(i), uint32_t(i));
            }
        });
    }
    for (auto& t : writers) t.join();
    for (int w = 0; w < kWriters; ++w) {
        for (int i = 0; i < kValues; ++i) {
            EXPECT_EQ(store_->readNumber("W" + std::to_string(w) + "_" + std::to_string(i)),
                      uint32_t(i));
        }
    }
}

TEST_F(SettingsTest, HostClientIdIsStoredOnceAndRenewedWhenDeleted) {
    const std::regex guid("\\{[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\\}");
    const std::string first = settings_->hostClientId();
    EXPECT_TRUE(std::regex_match(first, guid)) << first;
    EXPECT_EQ(store_->readText("HostClientId"), first);
    EXPECT_EQ(settings_->hostClientId(), first);
    EXPECT_EQ(last_host_client_id(), first);
    ASSERT_TRUE(store_->remove("HostClientId"));
    const std::string second = settings_->hostClientId();
    EXPECT_TRUE(std::regex_match(second, guid)) << second;
    EXPECT_NE(second, first);
}

TEST_F(SettingsTest, SaveWritesOnlyExistingControlsWithTheirTexts) {
    SettingsRecord r;
    r.accessCode = "AB2D";
    r.audioDeviceId = "";
    r.audioFormatIndex = 2;
    r.audioLocationIndex = 1;
    r.audioMuted = true;
    r.minimizeToTray = false;
    r.scalingModeIndex = 3;
    r.touchControlModeIndex = 4;
    r.mouseModeIndex = 1;
    saveSettings(*settings_, r);
    EXPECT_EQ(store_->readText("AccessCode"), "AB2D");
    EXPECT_EQ(store_->readText("AudioDeviceId"), "default");
    EXPECT_EQ(store_->readText("AudioFormat"), "6");
    EXPECT_EQ(store_->readText("AudioLocation"), "both");
    EXPECT_EQ(store_->readNumber("AudioMuted"), 1u);
    EXPECT_EQ(store_->readNumber("MinimizeToTray"), 0u);
    EXPECT_EQ(store_->readText("ScalingMode"), "pixelPerfect");
    EXPECT_EQ(store_->readText("TouchControlMode"), "hidden");
    EXPECT_EQ(store_->readText("MouseMode"), "gameRawRelative");
    // Controls that do not exist leave their values alone.
    EXPECT_EQ(store_->readText("TvAddress"), std::nullopt);
    EXPECT_EQ(store_->readNumber("ShowCursor"), std::nullopt);
    EXPECT_EQ(store_->readText("CaptureOutput"), std::nullopt);

    SettingsRecord other;
    other.audioFormatIndex = -1;
    other.audioLocationIndex = 0;
    other.mouseModeIndex = 0;
    other.capture = CaptureSettings{"\\\\.\\DISPLAY1",
                                    "Title",
                                    "game.exe",
                                    "C:\\Games\\game.exe",
                                    "\\\\.\\DISPLAY1",
                                    10,
                                    20,
                                    640,
                                    480};
    saveSettings(*settings_, other);
    EXPECT_EQ(store_->readText("AudioFormat"), "auto");
    EXPECT_EQ(store_->readText("AudioLocation"), "tv");
    EXPECT_EQ(store_->readText("MouseMode"), "desktopAbsolute");
    EXPECT_EQ(store_->readText("CaptureApplicationPath"), "C:\\Games\\game.exe");
    EXPECT_EQ(store_->readNumber("CaptureRegionWidth"), 640u);
    EXPECT_EQ(store_->readText("AccessCode"), "AB2D");
}

}  // namespace
}  // namespace zel
