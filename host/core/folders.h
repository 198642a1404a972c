#pragma once

#include <filesystem>

namespace zel {

// The host's folders. Windows: <RoamingAppData>\ZEL Stream Host,
// <LocalAppData>\ZEL Stream Host and its zel-engine folder. Linux: the XDG
// config folder ($XDG_CONFIG_HOME or ~/.config) and data folder
// ($XDG_DATA_HOME or ~/.local/share), each with a "zel-stream-host" folder.
struct HostFolders {
    std::filesystem::path roaming;  // settings (Linux), legacy config.json
    std::filesystem::path local;
    // Private copy of the engine, its status and control files. Created when
    // the folders are looked up; the install folder when that fails.
    std::filesystem::path engine;
    std::filesystem::path install;  // folder of the running executable

    std::filesystem::path legacySettingsFile() const { return roaming / "config.json"; }
};

HostFolders default_host_folders();

// Convenience getters over default_host_folders().
std::filesystem::path roamingFolder();
std::filesystem::path localFolder();
std::filesystem::path engineFolder();
std::filesystem::path installFolder();

}  // namespace zel
