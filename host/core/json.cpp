#include "host/core/json.h"

#include <charconv>
#include <cmath>

namespace zel {

namespace {

// Position just after the ":" that follows the first quoted key; npos when
// either is missing.
size_t value_start(std::string_view text, std::string_view key) {
    std::string quoted;
    quoted.reserve(key.size() + 2);
    quoted.push_back('"');
    quoted.append(key);
    quoted.push_back('"');
    const size_t at = text.find(quoted);
    if (at == std::string_view::npos) return std::string_view::npos;
    const size_t colon = text.find(':', at + quoted.size());
    if (colon == std::string_view::npos) return std::string_view::npos;
    return colon + 1;
}

bool is_blank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// A number token with nothing but blanks after it (a bare token keeps the
// spaces before its delimiter).
bool only_blanks(const char* from, const char* to) {
    for (; from != to; ++from) {
        if (!is_blank(*from)) return false;
    }
    return true;
}

}  // namespace

std::string jsonString(std::string_view text, std::string_view key) {
    size_t i = value_start(text, key);
    if (i == std::string_view::npos) return {};
    while (i < text.size() && is_blank(text[i])) ++i;
    if (i >= text.size()) return {};
    std::string out;
    if (text[i] == '"') {
        for (++i; i < text.size() && text[i] != '"'; ++i) {
            if (text[i] == '\\' && i + 1 < text.size()) {
                ++i;
                out.push_back(text[i] == 'n' ? '\n' : text[i]);
            } else if (text[i] != '\\') {
                out.push_back(text[i]);
            }
        }
        return out;
    }
    const size_t end = text.find_first_of(",}\r\n", i);
    return std::string(text.substr(i, end == std::string_view::npos ? end : end - i));
}

std::string jsonObject(std::string_view text, std::string_view key) {
    const size_t afterColon = value_start(text, key);
    if (afterColon == std::string_view::npos) return {};
    const size_t open = text.find('{', afterColon);
    if (open == std::string_view::npos) return {};
    int depth = 0;
    bool inString = false;
    for (size_t i = open; i < text.size(); ++i) {
        const char c = text[i];
        if (inString) {
            if (c == '\\') {
                ++i;
            } else if (c == '"') {
                inString = false;
            }
        } else if (c == '"') {
            inString = true;
        } else if (c == '{') {
            ++depth;
        } else if (c == '}' && --depth == 0) {
            return std::string(text.substr(open, i - open + 1));
        }
    }
    return {};
}

int jsonInt(std::string_view text, std::string_view key, int fallback) {
    const std::string value = jsonString(text, key);
    if (value.empty()) return fallback;
    const char* end = value.data() + value.size();
    int result = 0;
    const auto [ptr, ec] = std::from_chars(value.data(), end, result);
    if (ec != std::errc() || !only_blanks(ptr, end)) return fallback;
    return result;
}

double jsonDouble(std::string_view text, std::string_view key, double fallback) {
    const std::string value = jsonString(text, key);
    if (value.empty()) return fallback;
    const char* end = value.data() + value.size();
    double result = 0;
    const auto [ptr, ec] = std::from_chars(value.data(), end, result);
    if (ec != std::errc() || !only_blanks(ptr, end) || !std::isfinite(result)) return fallback;
    return result;
}

std::string jsonEscape(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 8);
    for (const char c : text) {
        switch (c) {
            case '\b':
                out += "\\b";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\f':
                out += "\\f";
                break;
            case '\r':
                out += "\\r";
                break;
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            default:
                if (static_cast<unsigned char>(c) >= 0x20) out.push_back(c);
        }
    }
    return out;
}

}  // namespace zel
