#include "engine/core/platform.h"

namespace zel {

bool engine_initialise_com(long& hresult) {
    hresult = 0;
    return true;
}

void engine_uninitialise_com() {}

void engine_set_dpi_awareness() {}

}  // namespace zel
