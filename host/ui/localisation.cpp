#include "host/ui/localisation.h"

#include <atomic>

#include "host/core/platform.h"

namespace zel {

namespace {
std::atomic<int>& mode_value() {
    static std::atomic<int> mode{kLanguageAutomatic};
    return mode;
}
}  // namespace

void set_language_mode(int mode) {
    mode_value().store(mode);
}
int language_mode() {
    return mode_value().load();
}

int language_mode_from_setting(std::string_view setting) {
    if (setting == "id") return kLanguageIndonesian;
    if (setting == "en") return kLanguageEnglish;
    return kLanguageAutomatic;
}

const char* language_setting_text(int mode) {
    return mode == kLanguageIndonesian ? "id" : mode == kLanguageEnglish ? "en" : "auto";
}

bool effective_language_is_indonesian(int mode, bool systemIsIndonesian) {
    if (mode == kLanguageIndonesian) return true;
    if (mode != kLanguageAutomatic) return false;
    return systemIsIndonesian;
}

bool effective_language_is_indonesian() {
    const int mode = language_mode();
    return effective_language_is_indonesian(
        mode, mode == kLanguageAutomatic && system_language_is_indonesian());
}

std::string text(std::string_view key) {
    for (const TextEntry& e : text_table()) {
        if (key == e.key) return effective_language_is_indonesian() ? e.indonesian : e.english;
    }
    return {};
}

}  // namespace zel
