#include <openssl/evp.h>

#include "tools/receiver/access_code.h"

namespace zel::receiver {

std::optional<std::array<uint8_t, 32>> sha256(std::string_view data) {
    std::array<uint8_t, 32> digest{};
    unsigned int size = 0;
    if (EVP_Digest(data.data(), data.size(), digest.data(), &size, EVP_sha256(), nullptr) != 1 ||
        size != digest.size()) {
        return std::nullopt;
    }
    return digest;
}

}  // namespace zel::receiver
