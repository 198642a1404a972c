#include <openssl/evp.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <random>

#include "host/core/folders.h"
#include "host/core/locale_rules.h"
#include "host/core/platform.h"

#include "base/fs.h"

namespace zel {

namespace {

std::filesystem::path xdg_folder(const char* variable, const char* fallbackUnderHome) {
    // The XDG rules: only an absolute path in the variable counts.
    const char* value = std::getenv(variable);
    if (value && value[0] == '/') return std::filesystem::path(value);
    const char* home = std::getenv("HOME");
    return std::filesystem::path(home && *home ? home : "/tmp") / fallbackUnderHome;
}

}  // namespace

HostFolders default_host_folders() {
    HostFolders f;
    f.roaming = xdg_folder("XDG_CONFIG_HOME", ".config") / "zel-stream-host";
    f.local = xdg_folder("XDG_DATA_HOME", ".local/share") / "zel-stream-host";
    f.install = executable_path().parent_path();
    f.engine = f.local / "zel-engine";
    std::error_code ec;
    std::filesystem::create_directories(f.engine, ec);
    if (ec) f.engine = f.install;
    return f;
}

std::optional<std::string> new_guid_text() {
    std::array<uint8_t, 16> bytes{};
    std::ifstream random("/dev/urandom", std::ios::binary);
    if (!random.read(reinterpret_cast<char*>(bytes.data()), bytes.size())) return std::nullopt;
    bytes[6] = uint8_t((bytes[6] & 0x0F) | 0x40);  // version 4 (random)
    bytes[8] = uint8_t((bytes[8] & 0x3F) | 0x80);  // RFC 4122 variant
    static const char kHex[] = "0123456789ABCDEF";
    std::string out = "{";
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) out.push_back('-');
        out.push_back(kHex[bytes[i] >> 4]);
        out.push_back(kHex[bytes[i] & 15]);
    }
    out.push_back('}');
    return out;
}

std::string fallback_client_id() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "linux-localhost";
    return std::string("linux-") + name;
}

bool system_language_is_indonesian() {
    return locale_language_is_indonesian(std::getenv("LC_ALL"), std::getenv("LC_MESSAGES"),
                                         std::getenv("LANG"));
}

std::optional<std::array<uint8_t, 32>> sha256(std::string_view bytes) {
    std::array<uint8_t, 32> digest{};
    unsigned int size = 0;
    if (EVP_Digest(bytes.data(), bytes.size(), digest.data(), &size, EVP_sha256(), nullptr) != 1 ||
        size != digest.size()) {
        return std::nullopt;
    }
    return digest;
}

const char* engine_file_name() {
    return "zel-engine-host";
}
const char* vpl_runtime_file_name() {
    return "";
}

std::filesystem::path find_steam_executable() {
    const char* path = std::getenv("PATH");
    if (!path) return {};
    std::string_view rest(path);
    while (true) {
        const size_t colon = rest.find(':');
        const std::string_view dir = rest.substr(0, colon);
        if (!dir.empty()) {
            const std::filesystem::path candidate = std::filesystem::path(dir) / "steam";
            if (::access(candidate.c_str(), X_OK) == 0 &&
                std::filesystem::is_regular_file(candidate)) {
                return candidate;
            }
        }
        if (colon == std::string_view::npos) break;
        rest.remove_prefix(colon + 1);
    }
    return {};
}

}  // namespace zel
