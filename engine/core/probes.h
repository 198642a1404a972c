#pragma once

#include <optional>

#include "engine/core/engine_settings.h"

namespace zel {

// Runs the listing or self-test the command line asked for (the first of them
// in the fixed order) and returns its exit code; nullopt when none was asked
// for. Failures are reported on standard error.
std::optional<int> run_requested_job(const EngineSettings& settings);

}  // namespace zel
