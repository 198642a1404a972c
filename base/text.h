#pragma once

#include <string>
#include <string_view>

namespace zel {

// UTF-8 <-> UTF-16. Malformed input (bad lead or continuation bytes, overlong
// forms, surrogates encoded in UTF-8, unpaired surrogates) becomes U+FFFD, so
// the conversion never fails and never drops the rest of the text.
std::u16string utf8_to_utf16(std::string_view text);
std::string utf16_to_utf8(std::u16string_view text);

// The engine's JSON string escaping: tab, newline, carriage return, quotation
// mark and backslash become backslash sequences, other bytes below 0x20 are
// dropped, everything else (UTF-8 included) is copied.
std::string json_escape(std::string_view text);

// A number the way a default-formatted output stream writes it: 6 significant
// digits, exponent form when needed, no trailing zeros ("20", "0.5",
// "1.23457e+06"). Independent of the C locale. Non-finite values have no JSON
// form and are written as 0.
std::string format_number(double value);

}  // namespace zel
