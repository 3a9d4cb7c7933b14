// The digest of a file, read in pieces through the system's own Sha256 (posix/, win32/).

#include "platform/sha256.h"

#include <fstream>
#include <vector>

namespace koru {
namespace {

constexpr std::size_t kChunkBytes = 64 * 1024;

}  // namespace

std::optional<std::string> Sha256OfFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        return std::nullopt;
    }
    Sha256 digest;
    std::vector<char> chunk(kChunkBytes);
    while (file) {
        file.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
        digest.Add(std::string_view(chunk.data(), static_cast<std::size_t>(file.gcount())));
    }
    if (file.bad()) {
        return std::nullopt;
    }
    return digest.Finish();
}

}  // namespace koru
