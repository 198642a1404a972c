#pragma once

#include <cstdint>

namespace zel {

// One input event of the receiver after the transport accepted it. The wire
// sequence number and timestamp are not kept: they only decide acceptance.
struct RemoteInputEvent {
    uint8_t kind = 0;    // 1 key, 2 pointer move, 3 mouse button/wheel, 4..6 gamepad, 7 touch
    uint8_t action = 0;  // press/release, move mode or touch phase
    uint8_t player = 0;  // gamepad slot 1..4 for kinds 4..6, else 0
    uint16_t code = 0;   // key, button, axis or touch contact id
    int32_t x = 0;
    int32_t y = 0;
    bool operator==(const RemoteInputEvent&) const = default;
};

}  // namespace zel
