#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace zel {

// The access code upper-cased, with every character outside
// "ABCDEFGHJKLMNPQRSTUVWXYZ23456789" (no I, O, 0 or 1) dropped.
std::string normalise_access_code(std::string_view accessCode);

// The token the receiver must present: the first 8 bytes (big-endian) of
// SHA-256 of the normalised code. 0 when the normalised code is not exactly 4
// characters or hashing failed; a hash that reads 0 becomes 1.
uint64_t sessionToken(std::string_view accessCode);

}  // namespace zel
