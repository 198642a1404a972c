#include "base/fs.h"
#include "base/text.h"

namespace zel {

std::filesystem::path path_from_utf8(std::string_view text) {
    return std::filesystem::path(std::u8string(text.begin(), text.end()));
}

std::filesystem::path path_from_utf16(std::u16string_view text) {
    return path_from_utf8(utf16_to_utf8(text));
}

std::string path_to_utf8(const std::filesystem::path& path) {
    const std::u8string s = path.u8string();
    return std::string(s.begin(), s.end());
}

}  // namespace zel
