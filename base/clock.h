#pragma once

#include <cstdint>

namespace zel {

// The engine's steady clock: monotonic, unaffected by wall-clock changes.
// Protocol, frame and audio timestamps use microseconds; pacing nanoseconds.
uint64_t steady_now_ns();
inline uint64_t steady_now_us() { return steady_now_ns() / 1000; }

// Injectable time source for rules that depend on elapsed time, so tests can
// drive them without sleeping.
class SteadyClock {
public:
    virtual ~SteadyClock() = default;
    virtual uint64_t nowNs() const = 0;
    uint64_t nowUs() const { return nowNs() / 1000; }
};

// The process-wide real clock.
const SteadyClock& system_steady_clock();

}  // namespace zel
