#include "tools/receiver/input_script.h"

#include <charconv>
#include <limits>

namespace zel::receiver {

namespace {

bool parse_int(std::string_view word, int64_t low, int64_t high, int64_t& value) {
    if (word.empty()) return false;
    const auto [end, ec] = std::from_chars(word.data(), word.data() + word.size(), value);
    return ec == std::errc() && end == word.data() + word.size() && value >= low && value <= high;
}

int kind_from_name(std::string_view word) {
    static constexpr std::pair<std::string_view, int> kNames[] = {
        {"key", 1},      {"move", 2},        {"button", 3}, {"pad-button", 4},
        {"pad-axis", 5}, {"pad-neutral", 6}, {"touch", 7}};
    for (const auto& [name, kind] : kNames) {
        if (word == name) return kind;
    }
    return -1;
}

}  // namespace

bool parse_input_script(std::string_view text, std::vector<ScriptedInput>& out,
                        std::string& error) {
    out.clear();
    size_t lineNumber = 0;
    uint32_t lastMs = 0;
    while (!text.empty()) {
        ++lineNumber;
        const size_t eol = text.find('\n');
        std::string_view line = text.substr(0, eol);
        text = eol == std::string_view::npos ? std::string_view() : text.substr(eol + 1);
        if (const size_t hash = line.find('#'); hash != std::string_view::npos) {
            line = line.substr(0, hash);
        }
        std::vector<std::string_view> words;
        size_t pos = 0;
        while (pos < line.size()) {
            while (pos < line.size() &&
                   (line[pos] == ' ' || line[pos] == '\t' || line[pos] == '\r'))
                ++pos;
            const size_t start = pos;
            while (pos < line.size() && line[pos] != ' ' && line[pos] != '\t' && line[pos] != '\r')
                ++pos;
            if (pos > start) words.push_back(line.substr(start, pos - start));
        }
        if (words.empty()) continue;
        auto fail = [&](const std::string& why) {
            error = "input script line " + std::to_string(lineNumber) + ": " + why;
            return false;
        };
        if (words.size() != 7) return fail("expected <ms> <kind> <action> <slot> <code> <x> <y>");
        int64_t v[7] = {};
        v[1] = kind_from_name(words[1]);
        for (size_t i = 0; i < 7; ++i) {
            if (i == 1 && v[1] >= 0) continue;
            static constexpr int64_t kLow[7] = {0, 0, 0, 0, -32768, INT32_MIN, INT32_MIN};
            static constexpr int64_t kHigh[7] = {UINT32_MAX, 255,       255,      255,
                                                 65535,      INT32_MAX, INT32_MAX};
            if (!parse_int(words[i], kLow[i], kHigh[i], v[i])) {
                return fail("bad value \"" + std::string(words[i]) + "\"");
            }
        }
        if (uint32_t(v[0]) < lastMs) return fail("times must not go backwards");
        lastMs = uint32_t(v[0]);
        ScriptedInput entry;
        entry.atMs = uint32_t(v[0]);
        entry.event = {uint8_t(v[1]),  uint8_t(v[2]), uint8_t(v[3]),
                       uint16_t(v[4]), int32_t(v[5]), int32_t(v[6])};
        out.push_back(entry);
    }
    return true;
}

}  // namespace zel::receiver
