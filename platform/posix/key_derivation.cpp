#include "platform/key_derivation.h"

#include <openssl/evp.h>
#include <openssl/rand.h>

#include <climits>

namespace koru {

std::optional<std::vector<std::uint8_t>> Pbkdf2Sha256(std::string_view password,
                                                      const std::vector<std::uint8_t>& salt,
                                                      std::uint32_t iterations,
                                                      std::size_t length) {
    if (iterations == 0 || iterations > INT_MAX || password.size() > INT_MAX ||
        salt.size() > INT_MAX || length == 0 || length > INT_MAX) {
        return std::nullopt;
    }
    std::vector<std::uint8_t> key(length);
    if (PKCS5_PBKDF2_HMAC(password.data(), static_cast<int>(password.size()), salt.data(),
                          static_cast<int>(salt.size()), static_cast<int>(iterations), EVP_sha256(),
                          static_cast<int>(length), key.data()) != 1) {
        return std::nullopt;
    }
    return key;
}

std::optional<std::vector<std::uint8_t>> RandomBytes(std::size_t count) {
    std::vector<std::uint8_t> bytes(count);
    if (count > INT_MAX || (count != 0 && RAND_bytes(bytes.data(), static_cast<int>(count)) != 1)) {
        return std::nullopt;
    }
    return bytes;
}

}  // namespace koru
