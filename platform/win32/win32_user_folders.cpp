#include <windows.h>
// After windows.h.
#include <knownfolders.h>
#include <shlobj.h>

#include <cstdlib>
#include <filesystem>

#include "platform/user_folders.h"

namespace koru {

std::string UserStateFolder() {
    namespace fs = std::filesystem;
    const char* local = std::getenv("LOCALAPPDATA");
    if (local != nullptr && fs::path(local).is_absolute()) {
        return local;
    }
    // A process started without the user's environment still has the user's profile.
    PWSTR known = nullptr;
    std::string folder;
    if (::SHGetKnownFolderPath(FOLDERID_LocalAppData, 0, nullptr, &known) == S_OK) {
        folder = fs::path(known).string();
    }
    ::CoTaskMemFree(known);
    return folder.empty() ? fs::current_path().string() : folder;
}

}  // namespace koru
