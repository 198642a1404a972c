#include "tools/receiver/access_code.h"

#include "base/bytes.h"

namespace zel::receiver {

namespace {
constexpr std::string_view kAlphabet = "ABCDEFGHJKLMNPQRSTUVWXYZ23456789";
}

std::string normalize_access_code(std::string_view text) {
    std::string code;
    for (char c : text) {
        if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
        if (kAlphabet.find(c) != std::string_view::npos) code.push_back(c);
    }
    return code;
}

uint64_t derive_session_token(std::string_view accessCode) {
    const std::string code = normalize_access_code(accessCode);
    if (code.size() != 4) return 0;
    const auto digest = sha256(code);
    if (!digest) return 0;
    const uint64_t token = get_u64_be(digest->data());
    return token == 0 ? 1 : token;
}

}  // namespace zel::receiver
