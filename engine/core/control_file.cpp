#include "engine/core/control_file.h"

#include <cmath>
#include <cstdlib>
#include <string>

#include "base/fs.h"

namespace zel {

namespace {

// Position just after the colon that follows the quoted key, or npos.
size_t value_position(std::string_view text, std::string_view key) {
    const std::string quoted = "\"" + std::string(key) + "\"";
    const size_t at = text.find(quoted);
    if (at == std::string_view::npos) return at;
    const size_t colon = text.find(':', at + quoted.size());
    return colon == std::string_view::npos ? colon : colon + 1;
}

void read_flag(std::string_view text, std::string_view key, bool& value) {
    size_t p = value_position(text, key);
    if (p == std::string_view::npos) return;
    while (p < text.size() &&
           (text[p] == ' ' || text[p] == '\t' || text[p] == '\r' || text[p] == '\n')) {
        ++p;
    }
    value = text.substr(p, 4) == "true";
}

}  // namespace

ControlValues parse_control_text(std::string_view text, ControlValues previous) {
    ControlValues v = previous;
    const size_t p = value_position(text, "audioVolume");
    if (p != std::string_view::npos) {
        // strtod needs a terminated string; copy only what follows the colon.
        const std::string rest(text.substr(p, 64));
        const double d = std::strtod(rest.c_str(), nullptr);
        if (!std::isnan(d)) v.volume = float(d < 0.0 ? 0.0 : (d > 1.0 ? 1.0 : d));
    }
    read_flag(text, "audioMuted", v.muted);
    read_flag(text, "showCursor", v.showCursor);
    return v;
}

ControlValues readControl(const std::filesystem::path& path, ControlValues previous) {
    if (path.empty()) return previous;
    std::string text;
    if (!read_whole_file(path, text)) return previous;
    return parse_control_text(text, previous);
}

}  // namespace zel
