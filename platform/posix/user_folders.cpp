#include "platform/user_folders.h"

#include <cstdlib>
#include <filesystem>

namespace koru {

std::string UserStateFolder() {
    namespace fs = std::filesystem;
    // The base directory rules: a relative value is invalid and ignored.
    const char* state = std::getenv("XDG_STATE_HOME");
    if (state != nullptr && fs::path(state).is_absolute()) {
        return state;
    }
    const char* home = std::getenv("HOME");
    return (fs::path(home != nullptr ? home : ".") / ".local/state").string();
}

}  // namespace koru
