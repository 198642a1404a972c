#include "engine/core/accept_loop.h"
#include "engine/core/command_line.h"
#include "engine/core/console.h"
#include "base/process.h"

int main(int argc, char** argv) {
    const auto parsed = zel::parse_command_line(zel::utf8_command_line(argc, argv));
    if (!parsed.accepted()) {
        if (!parsed.error.empty()) zel::console_err(parsed.error);
        return parsed.exitCode;
    }
    return zel::run_engine(parsed.settings);
}
