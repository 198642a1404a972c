#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zel::receiver {

// Upper-cases the text and keeps only characters of the receiver's code
// alphabet (no I, O, 0 or 1); nothing is cut, so only a result of four
// characters is a usable code.
std::string normalize_access_code(std::string_view text);

// The session token of an access code: the first 8 bytes of SHA-256 of the
// normalised code, big-endian, with 0 turned into 1. 0 when the code does not
// normalise to four characters or hashing failed.
uint64_t derive_session_token(std::string_view accessCode);

// SHA-256 through the platform's crypto library; nothing on failure.
std::optional<std::array<uint8_t, 32>> sha256(std::string_view data);

}  // namespace zel::receiver
