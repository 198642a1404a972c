#include <windows.h>

#include <bcrypt.h>
#include <objbase.h>
#include <shlobj.h>

#include <vector>

#include "base/fs.h"
#include "base/text.h"
#include "host/core/folders.h"
#include "host/core/locale_rules.h"
#include "host/core/platform.h"

namespace zel {

namespace {

std::filesystem::path known_folder(REFKNOWNFOLDERID id, DWORD flags) {
    PWSTR raw = nullptr;
    std::filesystem::path result;
    if (SUCCEEDED(::SHGetKnownFolderPath(id, flags, nullptr, &raw)) && raw) result = raw;
    ::CoTaskMemFree(raw);
    return result;
}

std::string narrow(const wchar_t* w) {
    return utf16_to_utf8(std::u16string_view(reinterpret_cast<const char16_t*>(w), wcslen(w)));
}

// A registry text (REG_SZ or REG_EXPAND_SZ, expanded), empty when missing.
std::wstring registry_text(HKEY root, const wchar_t* subkey, const wchar_t* name) {
    std::wstring buffer(4096, L'\0');
    DWORD size = DWORD(buffer.size() * sizeof(wchar_t));
    if (::RegGetValueW(root, subkey, name, RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ, nullptr,
                       buffer.data(), &size) != ERROR_SUCCESS) {
        return {};
    }
    buffer.resize(wcsnlen(buffer.c_str(), buffer.size()));
    return buffer;
}

}  // namespace

HostFolders default_host_folders() {
    HostFolders f;
    f.install = executable_path().parent_path();
    const auto roaming = known_folder(FOLDERID_RoamingAppData, 0);
    const auto local = known_folder(FOLDERID_LocalAppData, 0);
    f.roaming = roaming.empty() ? f.install : roaming / L"ZEL Stream Host";
    f.local = local.empty() ? f.install : local / L"ZEL Stream Host";
    const auto created = known_folder(FOLDERID_LocalAppData, KF_FLAG_CREATE);
    f.engine = created.empty() ? f.install : created / L"ZEL Stream Host" / L"zel-engine";
    return f;
}

std::optional<std::string> new_guid_text() {
    GUID guid;
    if (FAILED(::CoCreateGuid(&guid))) return std::nullopt;
    wchar_t text[64] = {};
    if (::StringFromGUID2(guid, text, 64) != 39) return std::nullopt;
    return narrow(text);
}

std::string fallback_client_id() {
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    if (!::GetComputerNameW(name, &size)) return "windows-Windows PC";
    return "windows-" + narrow(name);
}

bool system_language_is_indonesian() {
    return language_id_is_indonesian(::GetUserDefaultUILanguage());
}

std::optional<std::array<uint8_t, 32>> sha256(std::string_view bytes) {
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    if (!BCRYPT_SUCCESS(
            ::BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0))) {
        return std::nullopt;
    }
    std::array<uint8_t, 32> digest{};
    const NTSTATUS rc = ::BCryptHash(algorithm, nullptr, 0,
                                     reinterpret_cast<PUCHAR>(const_cast<char*>(bytes.data())),
                                     ULONG(bytes.size()), digest.data(), ULONG(digest.size()));
    ::BCryptCloseAlgorithmProvider(algorithm, 0);
    if (!BCRYPT_SUCCESS(rc)) return std::nullopt;
    return digest;
}

const char* engine_file_name() {
    return "zel-engine-host.exe";
}
const char* vpl_runtime_file_name() {
    return "libvpl.dll";
}

std::filesystem::path find_steam_executable() {
    std::vector<std::filesystem::path> candidates;
    const std::wstring exe =
        registry_text(HKEY_CURRENT_USER, L"Software\\Valve\\Steam", L"SteamExe");
    if (!exe.empty()) candidates.emplace_back(exe);
    for (const wchar_t* key : {L"SOFTWARE\\WOW6432Node\\Valve\\Steam", L"SOFTWARE\\Valve\\Steam"}) {
        const std::wstring dir = registry_text(HKEY_LOCAL_MACHINE, key, L"InstallPath");
        if (!dir.empty()) candidates.push_back(std::filesystem::path(dir) / L"steam.exe");
    }
    for (const auto& c : candidates) {
        std::error_code ec;
        if (std::filesystem::is_regular_file(c, ec)) return c;
    }
    return {};
}

}  // namespace zel
