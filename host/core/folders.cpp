#include "host/core/folders.h"

namespace zel {

std::filesystem::path roamingFolder() {
    return default_host_folders().roaming;
}
std::filesystem::path localFolder() {
    return default_host_folders().local;
}
std::filesystem::path engineFolder() {
    return default_host_folders().engine;
}
std::filesystem::path installFolder() {
    return default_host_folders().install;
}

}  // namespace zel
