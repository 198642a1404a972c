#pragma once

#include <string>
#include <vector>

#include "engine/core/engine_settings.h"

namespace zel {

// The outcome of reading the command line: either settings to run with
// (exitCode < 0) or a refusal with its exit code and its standard-error line
// (empty for the silent codec refusal).
struct CommandLineResult {
    EngineSettings settings;
    int exitCode = -1;
    std::string error;
    bool accepted() const { return exitCode < 0; }
};

// args[0] is the program name; the rest are UTF-8 arguments.
CommandLineResult parse_command_line(const std::vector<std::string>& args);

}  // namespace zel
