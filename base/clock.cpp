#include "base/clock.h"

namespace zel {

namespace {
class RealClock final : public SteadyClock {
public:
    uint64_t nowNs() const override { return steady_now_ns(); }
};
}  // namespace

const SteadyClock& system_steady_clock() {
    static const RealClock clock;
    return clock;
}

}  // namespace zel
