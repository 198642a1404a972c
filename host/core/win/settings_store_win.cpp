#include <windows.h>

#include "base/text.h"
#include "host/core/settings_store.h"

namespace zel {

namespace {

std::wstring wide(std::string_view utf8) {
    const std::u16string u = utf8_to_utf16(utf8);
    return std::wstring(u.begin(), u.end());
}

std::string narrow(std::wstring_view w) {
    return utf16_to_utf8(
        std::u16string_view(reinterpret_cast<const char16_t*>(w.data()), w.size()));
}

class RegistrySettingsStore : public SettingsStore {
  public:
    explicit RegistrySettingsStore(std::wstring subkey) : subkey_(std::move(subkey)) {}

    std::optional<std::string> readText(std::string_view name) override {
        const std::wstring value = wide(name);
        DWORD bytes = 0;
        if (::RegGetValueW(HKEY_CURRENT_USER, subkey_.c_str(), value.c_str(), RRF_RT_REG_SZ,
                           nullptr, nullptr, &bytes) != ERROR_SUCCESS) {
            return std::nullopt;
        }
        // A value that grew between the two calls is read again.
        for (int attempt = 0; attempt < 4; ++attempt) {
            // Below 2 bytes there is not even a terminating zero: treated as absent.
            if (bytes < 2) return std::nullopt;
            std::wstring buffer(bytes / sizeof(wchar_t) + 1, L'\0');
            DWORD size = DWORD(buffer.size() * sizeof(wchar_t));
            const LSTATUS rc = ::RegGetValueW(HKEY_CURRENT_USER, subkey_.c_str(), value.c_str(),
                                              RRF_RT_REG_SZ, nullptr, buffer.data(), &size);
            if (rc == ERROR_MORE_DATA) {
                bytes = size;
                continue;
            }
            if (rc != ERROR_SUCCESS || size < 2) return std::nullopt;
            buffer.resize(wcsnlen(buffer.c_str(), size / sizeof(wchar_t)));
            return narrow(buffer);
        }
        return std::nullopt;
    }

    std::optional<uint32_t> readNumber(std::string_view name) override {
        DWORD data = 0, size = sizeof data;
        if (::RegGetValueW(HKEY_CURRENT_USER, subkey_.c_str(), wide(name).c_str(), RRF_RT_REG_DWORD,
                           nullptr, &data, &size) != ERROR_SUCCESS) {
            return std::nullopt;
        }
        return uint32_t(data);
    }

    bool writeText(std::string_view name, std::string_view text) override {
        const std::wstring value = wide(text);
        return set(name, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   DWORD((value.size() + 1) * sizeof(wchar_t)));
    }

    bool writeNumber(std::string_view name, uint32_t number) override {
        const DWORD data = number;
        return set(name, REG_DWORD, reinterpret_cast<const BYTE*>(&data), sizeof data);
    }

    bool remove(std::string_view name) override {
        HKEY key = nullptr;
        const LSTATUS open =
            ::RegOpenKeyExW(HKEY_CURRENT_USER, subkey_.c_str(), 0, KEY_SET_VALUE, &key);
        if (open == ERROR_FILE_NOT_FOUND) return true;
        if (open != ERROR_SUCCESS) return false;
        const LSTATUS rc = ::RegDeleteValueW(key, wide(name).c_str());
        ::RegCloseKey(key);
        return rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND;
    }

  private:
    bool set(std::string_view name, DWORD type, const BYTE* data, DWORD size) {
        HKEY key = nullptr;
        if (::RegCreateKeyExW(HKEY_CURRENT_USER, subkey_.c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                              nullptr, &key, nullptr) != ERROR_SUCCESS) {
            return false;
        }
        const LSTATUS rc = ::RegSetValueExW(key, wide(name).c_str(), 0, type, data, size);
        ::RegCloseKey(key);
        return rc == ERROR_SUCCESS;
    }

    std::wstring subkey_;
};

}  // namespace

std::unique_ptr<SettingsStore> make_settings_store(const std::string& location) {
    return std::make_unique<RegistrySettingsStore>(
        location.empty() ? std::wstring(L"Software\\ZEL Stream Host") : wide(location));
}

}  // namespace zel
