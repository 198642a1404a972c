#pragma once

#include "engine/input/remote_input_event.h"

namespace zel {

// Hands one receiver input event to the system: keyboard, pointer and touch
// to the platform's injector, gamepad kinds to the gamepad manager. True when
// the event took effect.
bool injectInput(const RemoteInputEvent& event);

// Lifts whatever the receiver left pressed; called when a session ends.
void releaseAllInput();

}  // namespace zel
