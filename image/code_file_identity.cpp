#include "image/code_file_identity.h"

#include <filesystem>
#include <functional>
#include <mutex>
#include <string_view>
#include <utility>

#include "image/program_memory.h"

namespace koru {
namespace {

std::mutex identityMutex;
std::optional<CodeFileIdentity> identity;

std::size_t HashImage(std::uint32_t start, std::uint32_t end) {
    if (end < start || end >= ProgramMemory.size()) {
        return 0;
    }
    const auto* bytes = reinterpret_cast<const char*>(ProgramMemory.data());
    return std::hash<std::string_view>{}(std::string_view(bytes + start, end - start + 1));
}

}  // namespace

void RememberLoadedCodeFile(const std::string& path, std::uint64_t size, std::string sha256) {
    std::error_code error;
    CodeFileIdentity loaded;
    loaded.path = std::filesystem::absolute(path, error).lexically_normal().string();
    if (error) {
        loaded.path = path;
    }
    loaded.size = size;
    loaded.sha256 = std::move(sha256);
    loaded.start = StartAddress;
    loaded.end = EndAddress;
    loaded.imageHash = HashImage(loaded.start, loaded.end);
    std::lock_guard lock(identityMutex);
    identity = std::move(loaded);
}

std::optional<CodeFileIdentity> LoadedCodeFile() {
    std::lock_guard lock(identityMutex);
    return identity;
}

}  // namespace koru

namespace koru {

bool ImageStillHolds(const CodeFileIdentity& identity) {
    return HashImage(identity.start, identity.end) == identity.imageHash;
}

}  // namespace koru
