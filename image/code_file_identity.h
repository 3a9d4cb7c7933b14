#pragma once

// Which code file the image was last loaded from, for the production record: what went into a
// chip is named by the file's path, size and SHA-256 as they were when it was read.

#include <cstdint>
#include <optional>
#include <string>

namespace koru {

struct CodeFileIdentity {
    std::string path;  // absolute
    std::uint64_t size = 0;
    std::string sha256;  // lower-case hexadecimal; empty when the file could not be read again
};

// Called by the loader after a successful load of path.
void RememberLoadedCodeFile(const std::string& path);

// The file of the last successful load; nothing before the first one.
std::optional<CodeFileIdentity> LoadedCodeFile();

}  // namespace koru
