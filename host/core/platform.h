#pragma once

// The few OS services the host core needs beyond base/, one definition per OS
// (host/core/win, host/core/linux).

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace zel {

// A new random GUID as text, braced and upper case (38 characters);
// nullopt when the system could not make one.
std::optional<std::string> new_guid_text();

// The client id used when no GUID can be stored: "windows-<computer name>"
// ("windows-Windows PC" when the name cannot be read) or "linux-<host name>".
std::string fallback_client_id();

// Whether the user's interface language is Indonesian: on Windows the primary
// language of GetUserDefaultUILanguage is 0x21; on Linux the language of the
// locale (LC_ALL, else LC_MESSAGES, else LANG) is "id".
bool system_language_is_indonesian();

// SHA-256 of the bytes; nullopt when the system's hash provider failed.
std::optional<std::array<uint8_t, 32>> sha256(std::string_view bytes);

// The engine's file name in the install and engine folders, and the oneVPL
// runtime that travels with it (empty where there is none).
const char* engine_file_name();
const char* vpl_runtime_file_name();

// Steam's executable: on Windows from Steam's registry values, on Linux
// "steam" on PATH. Empty when not found.
std::filesystem::path find_steam_executable();

}  // namespace zel
