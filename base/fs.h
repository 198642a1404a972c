#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace zel {

// Paths are carried as std::filesystem::path; these convert from and to UTF-8
// the same way on both platforms.
std::filesystem::path path_from_utf8(std::string_view text);
std::filesystem::path path_from_utf16(std::u16string_view text);
std::string path_to_utf8(const std::filesystem::path& path);

// Replaces the file at path with content so that a concurrent reader sees the
// old or the new content, never a mix: writes "<path>.tmp" first, then moves
// it over the path. False (and the old file untouched) when any step fails.
bool atomic_replace_file(const std::filesystem::path& path, std::string_view content);

// Reads the whole file in binary; false when it cannot be opened or read.
bool read_whole_file(const std::filesystem::path& path, std::string& content);

// The running program's own executable.
std::filesystem::path executable_path();

}  // namespace zel
