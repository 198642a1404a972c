#include "host/core/locale_rules.h"

#include <gtest/gtest.h>

namespace zel {
namespace {

TEST(LocaleRules, WindowsPrimaryLanguageIdDecides) {
    EXPECT_TRUE(language_id_is_indonesian(0x0421));   // id-ID
    EXPECT_FALSE(language_id_is_indonesian(0x0409));  // en-US
    EXPECT_FALSE(language_id_is_indonesian(0x0422));  // uk-UA: only the low 10 bits count
    EXPECT_TRUE(language_id_is_indonesian(0x7C21));
}

TEST(LocaleRules, FirstSetLocaleVariableNamesTheLanguage) {
    struct Case {
        const char* lcAll;
        const char* lcMessages;
        const char* lang;
        bool indonesian;
    } cases[] = {
        {nullptr, nullptr, "id_ID.UTF-8", true}, {"", "", "id", true},
        {nullptr, "id_ID", "en_US.UTF-8", true}, {"en_GB.UTF-8", "id_ID", "id_ID", false},
        {"C", nullptr, "id_ID", false},          {nullptr, nullptr, "ida_XX", false},
        {nullptr, nullptr, "id@euro", true},     {nullptr, nullptr, nullptr, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(locale_language_is_indonesian(c.lcAll, c.lcMessages, c.lang), c.indonesian)
            << (c.lang ? c.lang : "null");
    }
}

}  // namespace
}  // namespace zel
