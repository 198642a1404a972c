#include "engine/input/input_injection.h"

#include "engine/input/gamepad_manager.h"

namespace zel {

// Keyboard, pointer and touch injection plug in here; until then only the
// gamepad kinds reach a backend.
bool injectInput(const RemoteInputEvent& event) {
    if (event.kind >= 4 && event.kind <= 6) return GamepadManager::instance().submit(event);
    return false;
}

void releaseAllInput() { GamepadManager::instance().resetAll(); }

}  // namespace zel
