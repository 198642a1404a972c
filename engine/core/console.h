#pragma once

#include <string_view>

namespace zel {

// One progress line on standard output / one refusal or error line on
// standard error, each flushed at once so a supervising process sees it.
void console_out(std::string_view line);
void console_err(std::string_view line);

}  // namespace zel
