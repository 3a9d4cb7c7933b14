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
    std::string sha256;  // lower-case hexadecimal; empty when the library could not make it
    // The image bytes the load gave, StartAddress..EndAddress then, for telling later whether
    // the image still holds the file (an edited cell, F8's sequence, a chip read change it).
    std::uint32_t start = 0, end = 0;
    std::size_t imageHash = 0;
};

// Called by the loader after a successful load of path, with the image and range it set and
// the size and SHA-256 of the bytes it read.
void RememberLoadedCodeFile(const std::string& path, std::uint64_t size, std::string sha256);

// Whether the image over the loaded range still holds what the load of identity put there.
bool ImageStillHolds(const CodeFileIdentity& identity);

// The file of the last successful load; nothing before the first one.
std::optional<CodeFileIdentity> LoadedCodeFile();

}  // namespace koru
