#include <windows.h>
// bcrypt.h needs the Windows types first.
#include <bcrypt.h>

#include "tools/receiver/access_code.h"

namespace zel::receiver {

std::optional<std::array<uint8_t, 32>> sha256(std::string_view data) {
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    if (!BCRYPT_SUCCESS(
            BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0))) {
        return std::nullopt;
    }
    std::array<uint8_t, 32> digest{};
    const NTSTATUS status =
        BCryptHash(algorithm, nullptr, 0, reinterpret_cast<PUCHAR>(const_cast<char*>(data.data())),
                   ULONG(data.size()), digest.data(), ULONG(digest.size()));
    BCryptCloseAlgorithmProvider(algorithm, 0);
    if (!BCRYPT_SUCCESS(status)) return std::nullopt;
    return digest;
}

}  // namespace zel::receiver
