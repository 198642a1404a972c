#pragma once

#include <cstdint>

namespace zel {

// The UI-language rules, kept apart from the OS calls so both are testable
// everywhere.

// Windows: the primary language (low 10 bits) of a LANGID is Indonesian (0x21).
inline bool language_id_is_indonesian(uint16_t langId) {
    return (langId & 0x3FF) == 0x21;
}

// POSIX precedence: the first non-empty of LC_ALL, LC_MESSAGES, LANG names the
// locale; its language part (before "_", "." or "@") is "id". Null pointers
// count as unset.
bool locale_language_is_indonesian(const char* lcAll, const char* lcMessages, const char* lang);

}  // namespace zel
