#pragma once

#include <span>
#include <string>
#include <string_view>

namespace zel {

// The language mode, one process-wide atomic value read by every thread that
// picks texts: 0 automatic (follow the system), 1 Indonesian, 2 English.
constexpr int kLanguageAutomatic = 0;
constexpr int kLanguageIndonesian = 1;
constexpr int kLanguageEnglish = 2;

void set_language_mode(int mode);
int language_mode();

// The Language setting: exactly "id" gives 1, exactly "en" gives 2, anything
// else (the default "auto", "ID", empty) gives 0.
int language_mode_from_setting(std::string_view setting);
// The setting text to store for a mode: "auto", "id" or "en".
const char* language_setting_text(int mode);

// Mode 1 gives Indonesian, any other non-zero mode English, 0 the system's
// UI language (system_language_is_indonesian).
bool effective_language_is_indonesian();
bool effective_language_is_indonesian(int mode, bool systemIsIndonesian);

// The text of key in the effective language; an unknown key gives an empty
// text (never the key).
std::string text(std::string_view key);

struct TextEntry {
    const char* key;
    const char* indonesian;
    const char* english;
};
// The whole table in its fixed order; keys are unique.
std::span<const TextEntry> text_table();

}  // namespace zel
