#pragma once

#include <filesystem>
#include <string_view>

namespace zel {

// The settings the host may change during a session.
struct ControlValues {
    float volume = 1.0f;
    bool muted = false;
    bool showCursor = false;
    bool operator==(const ControlValues&) const = default;
};

// Searches the text for the three keys; each key that is missing (or has no
// colon after it) keeps its previous value, so a half-written file is harmless.
ControlValues parse_control_text(std::string_view text, ControlValues previous);

// Reads the control file; the previous values when the path is empty or the
// file cannot be opened.
ControlValues readControl(const std::filesystem::path& path, ControlValues previous);

}  // namespace zel
