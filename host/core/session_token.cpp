#include "host/core/session_token.h"

#include "host/core/platform.h"

namespace zel {

std::string normalise_access_code(std::string_view accessCode) {
    static constexpr std::string_view kAlphabet = "ABCDEFGHJKLMNPQRSTUVWXYZ23456789";
    std::string out;
    for (char c : accessCode) {
        if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
        if (kAlphabet.find(c) != std::string_view::npos) out.push_back(c);
    }
    return out;
}

uint64_t sessionToken(std::string_view accessCode) {
    const std::string code = normalise_access_code(accessCode);
    if (code.size() != 4) return 0;
    const auto digest = sha256(code);
    if (!digest) return 0;
    uint64_t token = 0;
    for (int i = 0; i < 8; ++i) token = (token << 8) | (*digest)[size_t(i)];
    return token == 0 ? 1 : token;
}

}  // namespace zel
