#pragma once

#include <string>
#include <string_view>

namespace zel {

// Flat lookups used on every JSON text the host reads (engine status file,
// receiver answers, requests and datagrams). They are not a parser: the first
// occurrence of the quoted key anywhere in the text wins, nested or not.

// The value after the key: a quoted string (backslash takes the next
// character literally, backslash-n gives a line feed) or a bare token up to a
// comma, closing brace, CR or LF. Empty when the key or value is missing.
// The result is the raw UTF-8 text.
std::string jsonString(std::string_view text, std::string_view key);

// The object after the key, from its "{" to the matching "}" inclusive, with
// braces inside quoted strings ignored. Empty when missing or unbalanced.
std::string jsonObject(std::string_view text, std::string_view key);

// jsonString read as a signed decimal (32-bit) or a floating-point number;
// fallback when empty, unparsable or out of range.
int jsonInt(std::string_view text, std::string_view key, int fallback);
double jsonDouble(std::string_view text, std::string_view key, double fallback);

// Escapes UTF-8 text for a JSON string: \b \t \n \f \r \" and \\ as two-character
// escapes, every other byte below 0x20 dropped, everything else copied.
std::string jsonEscape(std::string_view text);

}  // namespace zel
