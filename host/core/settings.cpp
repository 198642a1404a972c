#include "host/core/settings.h"

#include <charconv>
#include <mutex>

#include "base/fs.h"
#include "host/core/json.h"
#include "host/core/platform.h"

namespace zel {

namespace {

constexpr uint32_t kAbsentNumber = 0xFFFFFFFF;

std::mutex& client_id_lock() {
    static std::mutex lock;
    return lock;
}
std::string& client_id_value() {
    static std::string value;
    return value;
}

constexpr SettingDefinition kDefinitions[] = {
    {"TvAddress", false, "tv_address", "192.168.1.12", 0},
    {"AccessCode", false, "access_code", "", 0},
    {"AudioDeviceId", false, "audio_device_id", "default", 0},
    {"AudioLocation", false, "audio_location", "tv", 0},
    {"AudioFormat", false, "audio_format", "auto", 0},
    {"AudioMuted", true, "audio_muted", "", 0},
    {"ScalingMode", false, "scaling_mode", "fit", 0},
    {"TouchControlMode", false, "touch_control_mode", "auto", 0},
    {"MouseMode", false, "mouse_mode", "desktopAbsolute", 0},
    {"MinimizeToTray", true, "minimize_to_tray", "", 1},
    {"ShowCursor", true, "show_cursor", "", 0},
    {"CaptureOutput", false, "capture_output", "", 0},
    {"CaptureWindowTitle", false, "capture_window_title", "", 0},
    {"CaptureApplication", false, "capture_application", "", 0},
    {"CaptureApplicationPath", false, "capture_application_path", "", 0},
    {"CaptureRegionOutput", false, "capture_region_output", "", 0},
    {"CaptureRegionX", true, "capture_region_x", "", 0},
    {"CaptureRegionY", true, "capture_region_y", "", 0},
    {"CaptureRegionWidth", true, "capture_region_width", "", 0},
    {"CaptureRegionHeight", true, "capture_region_height", "", 0},
    {"Language", false, "", "auto", 0},
    {"HostClientId", false, "", "", 0},
    {"SavedReceivers", false, "", "", 0},
};

template <size_t N>
const char* pick(const char* const (&texts)[N], int index, const char* otherwise) {
    return index >= 0 && size_t(index) < N ? texts[index] : otherwise;
}

}  // namespace

HostSettings::HostSettings(SettingsStore& store, std::filesystem::path legacyFile)
    : store_(store), legacyFile_(std::move(legacyFile)) {}

std::string HostSettings::legacyValue(std::string_view jsonKey) {
    if (jsonKey.empty()) return {};
    std::string content;
    if (!read_whole_file(legacyFile_, content)) return {};
    return jsonString(content, jsonKey);
}

std::string HostSettings::readString(std::string_view valueName, std::string_view fallback) {
    if (auto v = store_.readText(valueName)) return *v;
    return std::string(fallback);
}

std::string HostSettings::readStringMigrating(std::string_view valueName, std::string_view jsonKey,
                                              std::string_view fallback) {
    std::string stored = readString(valueName, "");
    if (!stored.empty()) return stored;
    std::string legacy = legacyValue(jsonKey);
    if (legacy.empty()) return std::string(fallback);
    store_.writeText(valueName, legacy);
    return legacy;
}

uint32_t HostSettings::readDword(std::string_view valueName, std::string_view jsonKey,
                                 uint32_t fallback) {
    if (auto v = store_.readNumber(valueName); v && *v != kAbsentNumber) return *v;
    const std::string legacy = legacyValue(jsonKey);
    if (legacy.empty()) return fallback;
    uint32_t value = 0;
    if (legacy == "true") {
        value = 1;
    } else if (legacy == "false") {
        value = 0;
    } else {
        const char* end = legacy.data() + legacy.size();
        const auto [ptr, ec] = std::from_chars(legacy.data(), end, value);
        if (ec != std::errc() || ptr != end) return fallback;
    }
    store_.writeNumber(valueName, value);
    return value;
}

void HostSettings::writeString(std::string_view valueName, std::string_view text) {
    store_.writeText(valueName, text);
}

void HostSettings::writeDword(std::string_view valueName, uint32_t value) {
    store_.writeNumber(valueName, value);
}

std::string HostSettings::hostClientId() {
    // One caller at a time, so two threads asking first never store two GUIDs.
    std::lock_guard<std::mutex> guard(client_id_lock());
    std::string id = readString("HostClientId", "");
    if (id.empty()) {
        const auto guid = new_guid_text();
        if (guid && store_.writeText("HostClientId", *guid)) {
            id = *guid;
        } else {
            id = fallback_client_id();
        }
    }
    client_id_value() = id;
    return id;
}

std::string last_host_client_id() {
    std::lock_guard<std::mutex> guard(client_id_lock());
    return client_id_value();
}

std::span<const SettingDefinition> setting_definitions() {
    return kDefinitions;
}

const SettingDefinition* find_setting(std::string_view name) {
    for (const auto& d : kDefinitions) {
        if (name == d.name) return &d;
    }
    return nullptr;
}

const char* audio_format_text(int index) {
    static const char* const kTexts[] = {"auto", "2", "6", "8"};
    return pick(kTexts, index, "auto");
}
const char* scaling_mode_text(int index) {
    static const char* const kTexts[] = {"fit", "fill", "stretch", "pixelPerfect"};
    return pick(kTexts, index, "fit");
}
const char* touch_control_mode_text(int index) {
    static const char* const kTexts[] = {"auto", "directTouch", "gamepad", "touchpad", "hidden"};
    return pick(kTexts, index, "auto");
}
const char* mouse_mode_text(int index) {
    return index == 1 ? "gameRawRelative" : "desktopAbsolute";
}

void saveSettings(HostSettings& s, const SettingsRecord& r) {
    if (r.tvAddress) s.writeString("TvAddress", *r.tvAddress);
    if (r.accessCode) s.writeString("AccessCode", *r.accessCode);
    if (r.audioDeviceId) {
        s.writeString("AudioDeviceId", r.audioDeviceId->empty() ? "default" : *r.audioDeviceId);
    }
    if (r.audioFormatIndex) s.writeString("AudioFormat", audio_format_text(*r.audioFormatIndex));
    if (r.audioLocationIndex)
        s.writeString("AudioLocation", *r.audioLocationIndex == 1 ? "both" : "tv");
    if (r.audioMuted) s.writeDword("AudioMuted", *r.audioMuted ? 1 : 0);
    if (r.minimizeToTray) s.writeDword("MinimizeToTray", *r.minimizeToTray ? 1 : 0);
    if (r.showCursor) s.writeDword("ShowCursor", *r.showCursor ? 1 : 0);
    if (r.scalingModeIndex) s.writeString("ScalingMode", scaling_mode_text(*r.scalingModeIndex));
    if (r.touchControlModeIndex) {
        s.writeString("TouchControlMode", touch_control_mode_text(*r.touchControlModeIndex));
    }
    if (r.mouseModeIndex) s.writeString("MouseMode", mouse_mode_text(*r.mouseModeIndex));
    if (r.capture) {
        const CaptureSettings& c = *r.capture;
        s.writeString("CaptureOutput", c.output);
        s.writeString("CaptureWindowTitle", c.windowTitle);
        s.writeString("CaptureApplication", c.application);
        s.writeString("CaptureApplicationPath", c.applicationPath);
        s.writeString("CaptureRegionOutput", c.regionOutput);
        s.writeDword("CaptureRegionX", c.regionX);
        s.writeDword("CaptureRegionY", c.regionY);
        s.writeDword("CaptureRegionWidth", c.regionWidth);
        s.writeDword("CaptureRegionHeight", c.regionHeight);
    }
}

}  // namespace zel
