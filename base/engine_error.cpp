#include "base/engine_error.h"

namespace zel {

std::string hresult_text(const std::string& step, long hresult) {
    return step + " failed: HRESULT " + std::to_string(static_cast<int32_t>(hresult));
}

}  // namespace zel
