#include <windows.h>
#include <objbase.h>

#include "engine/core/platform.h"

namespace zel {

bool engine_initialise_com(long& hresult) {
    hresult = ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    return SUCCEEDED(hresult);
}

void engine_uninitialise_com() { ::CoUninitialize(); }

void engine_set_dpi_awareness() {
    // Looked up at run time: older systems lack the call and the engine must
    // still start there.
    using SetContext = BOOL(WINAPI*)(DPI_AWARENESS_CONTEXT);
    HMODULE user32 = ::GetModuleHandleW(L"user32.dll");
    if (!user32) return;
    auto set = reinterpret_cast<SetContext>(
        reinterpret_cast<void*>(::GetProcAddress(user32, "SetProcessDpiAwarenessContext")));
    if (set) set(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);
}

}  // namespace zel
