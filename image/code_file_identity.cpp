#include "image/code_file_identity.h"

#include <filesystem>
#include <mutex>

#include "platform/sha256.h"

namespace koru {
namespace {

std::mutex identityMutex;
std::optional<CodeFileIdentity> identity;

}  // namespace

void RememberLoadedCodeFile(const std::string& path) {
    std::error_code error;
    CodeFileIdentity loaded;
    loaded.path = std::filesystem::absolute(path, error).lexically_normal().string();
    if (error) {
        loaded.path = path;
    }
    const std::uintmax_t size = std::filesystem::file_size(path, error);
    loaded.size = error ? 0 : size;
    loaded.sha256 = Sha256OfFile(path).value_or("");
    std::lock_guard lock(identityMutex);
    identity = std::move(loaded);
}

std::optional<CodeFileIdentity> LoadedCodeFile() {
    std::lock_guard lock(identityMutex);
    return identity;
}

}  // namespace koru
