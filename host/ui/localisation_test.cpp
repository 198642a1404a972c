#include "host/ui/localisation.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "host/core/platform.h"

namespace zel {
namespace {

class LocalisationTest : public ::testing::Test {
  protected:
    ~LocalisationTest() override { set_language_mode(kLanguageAutomatic); }
};

bool has_key(std::string_view key) {
    for (const auto& e : text_table()) {
        if (key == e.key) return true;
    }
    return false;
}

TEST_F(LocalisationTest, EveryKeyTheHostNamesIsInTheTable) {
    // Collected from the host sources at configure time.
    const char* const used[] = {
#include "host_used_text_keys.inc"
    };
    for (const char* key : used) EXPECT_TRUE(has_key(key)) << key;
}

TEST_F(LocalisationTest, KeysAreUniqueAndEveryFamilyIsComplete) {
    std::set<std::string> keys;
    for (const auto& e : text_table()) {
        EXPECT_TRUE(keys.insert(e.key).second) << e.key;
        EXPECT_NE(std::string(e.indonesian), "") << e.key;
        EXPECT_NE(std::string(e.english), "") << e.key;
    }
    for (int i = 1; i <= 168; ++i)
        EXPECT_TRUE(keys.count("host_message_" + std::to_string(i))) << i;
    for (int i = 1; i <= 47; ++i) EXPECT_TRUE(keys.count("host_detail_" + std::to_string(i))) << i;
    for (int i = 1; i <= 58; ++i) EXPECT_TRUE(keys.count("windows_" + std::to_string(i))) << i;
    for (const char* named : {"language",
                              "automatic",
                              "ready",
                              "device",
                              "unavailable",
                              "testing",
                              "preparing",
                              "verified",
                              "test_receiver",
                              "network_test",
                              "receiver_test",
                              "audio_analysis",
                              "gamepad_setup",
                              "gamepad_ready",
                              "gamepad_missing",
                              "gamepad_restart",
                              "gamepad_unknown",
                              "gamepad_no_version",
                              "gamepad_not_installed",
                              "restart_driver",
                              "restart_required",
                              "stop_before_uninstall",
                              "missing_uninstaller",
                              "waiting_admin",
                              "hide_settings",
                              "advanced_settings",
                              "receiver_only",
                              "mute_stream",
                              "manual_receiver",
                              "local_network_not_ready",
                              "area_active",
                              "select_area",
                              "connecting_caps",
                              "stream_settings",
                              "stream_invalid",
                              "stream_unsupported",
                              "stream_managed_tv"}) {
        EXPECT_TRUE(keys.count(named)) << named;
    }
}

TEST_F(LocalisationTest, ModeChoosesTheColumn) {
    struct Case {
        const char* key;
        const char* indonesian;
        const char* english;
    } cases[] = {
        {"windows_8", "▶  CAST SEKARANG", "▶  CAST NOW"},
        {"host_message_83", "Masukkan lengkap 4 karakter kode perangkat",
         "Enter the complete 4-character device code"},
        {"host_message_84", "Hentikan streaming sebelum mengganti preset atau audio",
         "Stop streaming before changing preset or audio"},
        {"host_message_89", "ZEL Engine tidak membuka port 48300",
         "ZEL Engine did not open port 48300"},
        {"host_message_161", "●  STREAMING", "●  STREAMING"},
        {"host_message_149", " receiver ditemukan.", " receivers found."},
        {"no_such_key", "", ""},
    };
    for (const auto& c : cases) {
        set_language_mode(kLanguageIndonesian);
        EXPECT_EQ(text(c.key), c.indonesian) << c.key;
        set_language_mode(kLanguageEnglish);
        EXPECT_EQ(text(c.key), c.english) << c.key;
        set_language_mode(kLanguageAutomatic);
        EXPECT_EQ(text(c.key), system_language_is_indonesian() ? c.indonesian : c.english) << c.key;
    }
}

TEST_F(LocalisationTest, LanguageSettingAndEffectiveLanguage) {
    struct Case {
        const char* setting;
        int mode;
    } cases[] = {{"id", 1}, {"en", 2}, {"ID", 0}, {"EN", 0}, {"auto", 0}, {"", 0}, {"fr", 0}};
    for (const auto& c : cases)
        EXPECT_EQ(language_mode_from_setting(c.setting), c.mode) << c.setting;
    EXPECT_STREQ(language_setting_text(0), "auto");
    EXPECT_STREQ(language_setting_text(1), "id");
    EXPECT_STREQ(language_setting_text(2), "en");
    EXPECT_TRUE(effective_language_is_indonesian(1, false));
    EXPECT_FALSE(effective_language_is_indonesian(2, true));
    EXPECT_FALSE(effective_language_is_indonesian(7, true));
    EXPECT_TRUE(effective_language_is_indonesian(0, true));
    EXPECT_FALSE(effective_language_is_indonesian(0, false));
}

}  // namespace
}  // namespace zel
