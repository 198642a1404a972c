#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace zel {

// Where the host keeps its named values. Two value types, as in the Windows
// registry: text (REG_SZ) and unsigned 32-bit numbers (REG_DWORD). Texts are
// UTF-8 here; the Windows store converts at the registry boundary.
class SettingsStore {
  public:
    virtual ~SettingsStore() = default;
    // nullopt: no value of that name and type, or it could not be read.
    virtual std::optional<std::string> readText(std::string_view name) = 0;
    virtual std::optional<uint32_t> readNumber(std::string_view name) = 0;
    // Creates the store when missing. False when the value could not be written.
    virtual bool writeText(std::string_view name, std::string_view value) = 0;
    virtual bool writeNumber(std::string_view name, uint32_t value) = 0;
    // True when the value is gone afterwards (also when it never existed).
    virtual bool remove(std::string_view name) = 0;
};

// The per-user store. location empty: the product's own place (Windows: the
// key "Software\ZEL Stream Host" under HKEY_CURRENT_USER; Linux: the settings
// file in the XDG config folder). Otherwise, for tests and tools: another
// subkey of HKEY_CURRENT_USER on Windows, another folder (UTF-8 path) on Linux.
std::unique_ptr<SettingsStore> make_settings_store(const std::string& location = {});

}  // namespace zel
