#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/input/remote_input_event.h"

namespace zel::receiver {

// One line of an input script: an event and when to send it, in milliseconds
// after the first video frame arrived. event.player is the wire slot.
struct ScriptedInput {
    uint32_t atMs = 0;
    RemoteInputEvent event;
};

// Script format, one event a line, '#' starts a comment:
//   <ms> <kind> <action> <slot> <code> <x> <y>
// kind is a number or one of key, move, button, pad-button, pad-axis,
// pad-neutral, touch. Lines must be in time order. False with a message
// naming the line when the text does not parse.
bool parse_input_script(std::string_view text, std::vector<ScriptedInput>& out, std::string& error);

}  // namespace zel::receiver
