#pragma once

// SHA-256 of a file's contents, from the system's cryptography library.

#include <optional>
#include <string>

namespace koru {

// The digest as 64 lower-case hexadecimal digits, or nothing when the file cannot be read.
std::optional<std::string> Sha256OfFile(const std::string& path);

}  // namespace koru
