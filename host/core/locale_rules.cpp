#include "host/core/locale_rules.h"

#include <string_view>

namespace zel {

bool locale_language_is_indonesian(const char* lcAll, const char* lcMessages, const char* lang) {
    const char* chosen = nullptr;
    for (const char* v : {lcAll, lcMessages, lang}) {
        if (v && *v) {
            chosen = v;
            break;
        }
    }
    if (!chosen) return false;
    std::string_view locale(chosen);
    locale = locale.substr(0, locale.find_first_of("_.@"));
    return locale.size() == 2 && (locale[0] == 'i' || locale[0] == 'I') &&
           (locale[1] == 'd' || locale[1] == 'D');
}

}  // namespace zel
