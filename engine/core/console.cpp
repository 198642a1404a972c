#include "engine/core/console.h"

#include <cstdio>
#include <string>

namespace zel {

namespace {
void write_line(FILE* f, std::string_view line) {
    std::string text(line);
    text.push_back('\n');
    std::fwrite(text.data(), 1, text.size(), f);
    std::fflush(f);
}
}  // namespace

void console_out(std::string_view line) { write_line(stdout, line); }
void console_err(std::string_view line) { write_line(stderr, line); }

}  // namespace zel
