#pragma once

// Password hashing and random bytes from the system's cryptography library (OpenSSL on Linux,
// CNG on Windows), for the lock of a job file.

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace koru {

// PBKDF2 with HMAC-SHA256 of password and salt over iterations rounds: length bytes. Nothing
// when the library failed or iterations is 0.
std::optional<std::vector<std::uint8_t>> Pbkdf2Sha256(std::string_view password,
                                                      const std::vector<std::uint8_t>& salt,
                                                      std::uint32_t iterations, std::size_t length);

// count bytes from the system's cryptographic random source; nothing when it failed.
std::optional<std::vector<std::uint8_t>> RandomBytes(std::size_t count);

}  // namespace koru
