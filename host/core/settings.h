#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "host/core/settings_store.h"

namespace zel {

// The host's settings accessors over a store, with the one-way migration of
// values from the legacy "config.json" (read only, never written).
// Store and file errors never surface: reads fall back to the legacy file and
// then to the default, failed writes are ignored.
class HostSettings {
  public:
    HostSettings(SettingsStore& store, std::filesystem::path legacyFile);

    // The stored text, or fallback when missing or unreadable (an empty
    // stored text is returned as it is).
    std::string readString(std::string_view valueName, std::string_view fallback);
    // A non-empty stored text; else a non-empty legacy value, which is stored
    // under valueName first; else fallback.
    std::string readStringMigrating(std::string_view valueName, std::string_view jsonKey,
                                    std::string_view fallback);
    // A stored number other than 0xFFFFFFFF (which counts as missing); else
    // the legacy value ("true" 1, "false" 0, or an unsigned decimal), stored
    // first; an unparsable legacy value gives fallback and stores nothing.
    // An empty jsonKey skips the legacy file.
    uint32_t readDword(std::string_view valueName, std::string_view jsonKey, uint32_t fallback);
    void writeString(std::string_view valueName, std::string_view text);
    void writeDword(std::string_view valueName, uint32_t value);

    // This host's identity towards receivers: the stored HostClientId, else a
    // new braced upper-case GUID that is stored; when that fails,
    // fallback_client_id() (not stored). Safe to call from any thread.
    std::string hostClientId();

    SettingsStore& store() { return store_; }

  private:
    std::string legacyValue(std::string_view jsonKey);

    SettingsStore& store_;
    std::filesystem::path legacyFile_;
};

// The last id hostClientId() gave in this process (empty before the first call),
// for parts that have no settings object at hand.
std::string last_host_client_id();

// One row of the settings table: registry value name, type, legacy JSON key
// (empty: none) and default.
struct SettingDefinition {
    const char* name;
    bool isNumber;
    const char* jsonKey;
    const char* textDefault;
    uint32_t numberDefault;
};
std::span<const SettingDefinition> setting_definitions();
const SettingDefinition* find_setting(std::string_view name);

// The capture choice as the window holds it and saves it.
struct CaptureSettings {
    std::string output;
    std::string windowTitle;
    std::string application;
    std::string applicationPath;
    std::string regionOutput;
    uint32_t regionX = 0, regionY = 0, regionWidth = 0, regionHeight = 0;
};

// The current state of the setting controls, filled by the window (or the
// Linux front end). A member left empty (nullopt) stands for a control that
// does not exist, and its value is not written.
struct SettingsRecord {
    std::optional<std::string> tvAddress;
    std::optional<std::string> accessCode;
    // The selected device entry's id; empty (nothing valid selected) saves "default".
    std::optional<std::string> audioDeviceId;
    std::optional<int> audioFormatIndex;    // 0 "auto", 1 "2", 2 "6", 3 "8"
    std::optional<int> audioLocationIndex;  // 1 "both", otherwise "tv"
    std::optional<bool> audioMuted;
    std::optional<bool> minimizeToTray;
    std::optional<bool> showCursor;
    std::optional<int> scalingModeIndex;       // fit, fill, stretch, pixelPerfect
    std::optional<int> touchControlModeIndex;  // auto, directTouch, gamepad, touchpad, hidden
    std::optional<int> mouseModeIndex;         // 1 "gameRawRelative", otherwise "desktopAbsolute"
    std::optional<CaptureSettings> capture;
};

void saveSettings(HostSettings& settings, const SettingsRecord& record);

// The selector texts behind the list positions above (shared with the
// engine command line and the window's selectors).
const char* audio_format_text(int index);
const char* scaling_mode_text(int index);
const char* touch_control_mode_text(int index);
const char* mouse_mode_text(int index);

}  // namespace zel
