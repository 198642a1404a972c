#pragma once

#include <string>
#include <vector>

namespace zel {

// What the engine's start-up needs from the operating system.

// Joins the process to the multithreaded COM apartment. False with the HRESULT
// on failure. Nothing to do (true) where there is no COM.
bool engine_initialise_com(long& hresult);
void engine_uninitialise_com();

// Per-monitor DPI awareness so captured sizes are physical pixels; the result
// is not needed.
void engine_set_dpi_awareness();

}  // namespace zel
