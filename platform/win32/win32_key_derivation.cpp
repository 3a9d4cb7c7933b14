// Password hashing and random bytes through Windows' own cryptography (CNG).

#include <windows.h>
// after windows.h
#include <bcrypt.h>

#include <climits>

#include "platform/key_derivation.h"

namespace koru {
namespace {

bool Succeeded(NTSTATUS status) {
    return status >= 0;
}

}  // namespace

std::optional<std::vector<std::uint8_t>> Pbkdf2Sha256(std::string_view password,
                                                      const std::vector<std::uint8_t>& salt,
                                                      std::uint32_t iterations,
                                                      std::size_t length) {
    if (iterations == 0 || password.size() > ULONG_MAX || salt.size() > ULONG_MAX || length == 0 ||
        length > ULONG_MAX) {
        return std::nullopt;
    }
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    if (!Succeeded(::BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr,
                                                 BCRYPT_ALG_HANDLE_HMAC_FLAG))) {
        return std::nullopt;
    }
    std::vector<std::uint8_t> key(length);
    auto* secret = reinterpret_cast<PUCHAR>(const_cast<char*>(password.data()));
    auto* saltBytes = const_cast<PUCHAR>(salt.data());
    const bool done = Succeeded(::BCryptDeriveKeyPBKDF2(
        algorithm, secret, static_cast<ULONG>(password.size()), saltBytes,
        static_cast<ULONG>(salt.size()), iterations, key.data(), static_cast<ULONG>(length), 0));
    ::BCryptCloseAlgorithmProvider(algorithm, 0);
    if (!done) {
        return std::nullopt;
    }
    return key;
}

std::optional<std::vector<std::uint8_t>> RandomBytes(std::size_t count) {
    std::vector<std::uint8_t> bytes(count);
    if (count > ULONG_MAX || (count != 0 && !Succeeded(::BCryptGenRandom(
                                                nullptr, bytes.data(), static_cast<ULONG>(count),
                                                BCRYPT_USE_SYSTEM_PREFERRED_RNG)))) {
        return std::nullopt;
    }
    return bytes;
}

}  // namespace koru
