#include <windows.h>

#include "base/clock.h"

namespace zel {

uint64_t steady_now_ns() {
    static const uint64_t frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return uint64_t(f.QuadPart);
    }();
    LARGE_INTEGER c;
    QueryPerformanceCounter(&c);
    const uint64_t ticks = uint64_t(c.QuadPart);
    // Split to avoid overflow of ticks * 1e9 on long uptimes.
    return (ticks / frequency) * 1000000000ull + (ticks % frequency) * 1000000000ull / frequency;
}

}  // namespace zel
