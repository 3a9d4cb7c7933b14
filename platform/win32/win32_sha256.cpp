// SHA-256 through Windows' own cryptography (CNG).

#include <windows.h>
// after windows.h
#include <bcrypt.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <vector>

#include "platform/sha256.h"

namespace koru {
namespace {

constexpr std::size_t kChunkBytes = 64 * 1024;
constexpr std::size_t kDigestBytes = 32;

bool Succeeded(NTSTATUS status) {
    return status >= 0;
}

}  // namespace

std::optional<std::string> Sha256OfFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        return std::nullopt;
    }
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    if (!Succeeded(
            ::BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0))) {
        return std::nullopt;
    }
    BCRYPT_HASH_HANDLE hash = nullptr;
    std::optional<std::string> result;
    if (Succeeded(::BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0))) {
        std::vector<char> chunk(kChunkBytes);
        bool ok = true;
        while (ok && file) {
            file.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
            const std::streamsize got = file.gcount();
            ok =
                got <= 0 || Succeeded(::BCryptHashData(hash, reinterpret_cast<PUCHAR>(chunk.data()),
                                                       static_cast<ULONG>(got), 0));
        }
        std::array<unsigned char, kDigestBytes> digest{};
        if (ok && !file.bad() &&
            Succeeded(::BCryptFinishHash(hash, digest.data(), digest.size(), 0))) {
            std::string text;
            for (unsigned char byte : digest) {
                char pair[3];
                std::snprintf(pair, sizeof pair, "%02x", byte);
                text += pair;
            }
            result = text;
        }
        ::BCryptDestroyHash(hash);
    }
    ::BCryptCloseAlgorithmProvider(algorithm, 0);
    return result;
}

}  // namespace koru
