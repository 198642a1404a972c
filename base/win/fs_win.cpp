#include <windows.h>

#include "base/fs.h"

namespace zel {

bool atomic_replace_file(const std::filesystem::path& path, std::string_view content) {
    std::filesystem::path temp = path;
    temp += L".tmp";
    HANDLE h = ::CreateFileW(temp.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    const char* p = content.data();
    size_t left = content.size();
    bool ok = true;
    while (left > 0) {
        DWORD written = 0;
        const DWORD chunk = DWORD(left > 0x40000000 ? 0x40000000 : left);
        if (!::WriteFile(h, p, chunk, &written, nullptr) || written == 0) {
            ok = false;
            break;
        }
        p += written;
        left -= written;
    }
    ok = ::CloseHandle(h) && ok;
    if (!ok) {
        ::DeleteFileW(temp.c_str());
        return false;
    }
    // A reader that opened the target without FILE_SHARE_DELETE blocks the
    // replace for as long as it holds the file; such reads are short, so try
    // again briefly instead of losing this write.
    for (int attempt = 0;; ++attempt) {
        if (::MoveFileExW(temp.c_str(), path.c_str(),
                          MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
            return true;
        }
        const DWORD e = ::GetLastError();
        if (attempt >= 50 || (e != ERROR_ACCESS_DENIED && e != ERROR_SHARING_VIOLATION)) break;
        ::Sleep(2);
    }
    ::DeleteFileW(temp.c_str());
    return false;
}

bool read_whole_file(const std::filesystem::path& path, std::string& content) {
    // Shared for delete too, so a writer can replace the file while we read.
    HANDLE h = ::CreateFileW(path.c_str(), GENERIC_READ,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    std::string data;
    char buffer[16384];
    DWORD n = 0;
    bool ok = true;
    for (;;) {
        if (!::ReadFile(h, buffer, sizeof buffer, &n, nullptr)) {
            ok = false;
            break;
        }
        if (n == 0) break;
        data.append(buffer, n);
    }
    ::CloseHandle(h);
    if (ok) content = std::move(data);
    return ok;
}

std::filesystem::path executable_path() {
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = ::GetModuleFileNameW(nullptr, buffer.data(), DWORD(buffer.size()));
        if (n == 0) return {};
        if (n < buffer.size()) {
            buffer.resize(n);
            return std::filesystem::path(buffer);
        }
        buffer.resize(buffer.size() * 2);
    }
}

}  // namespace zel
