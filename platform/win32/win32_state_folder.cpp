// The user's local application data folder, as the shell names it.

#include <windows.h>
// windows.h first: shlobj.h needs its types.
#include <shlobj.h>

#include <cstdlib>
#include <filesystem>

#include "platform/state_folder.h"

namespace koru {

std::string UserStateFolder() {
    char path[MAX_PATH] = {};
    if (SUCCEEDED(
            ::SHGetFolderPathA(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, path)) &&
        path[0] != '\0') {
        return path;
    }
    // The shell could not say (a service account without a profile): the environment may.
    const char* local = std::getenv("LOCALAPPDATA");
    if (local != nullptr && std::filesystem::path(local).is_absolute()) {
        return local;
    }
    return {};
}

}  // namespace koru
