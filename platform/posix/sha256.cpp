#include "platform/sha256.h"

#include <openssl/evp.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <memory>

namespace koru {
namespace {

constexpr std::size_t kChunkBytes = 64 * 1024;

struct ContextFree {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};

}  // namespace

std::optional<std::string> Sha256OfFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        return std::nullopt;
    }
    const std::unique_ptr<EVP_MD_CTX, ContextFree> context(EVP_MD_CTX_new());
    if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1) {
        return std::nullopt;
    }
    std::array<char, kChunkBytes> chunk{};
    while (file) {
        file.read(chunk.data(), chunk.size());
        const std::streamsize got = file.gcount();
        if (got > 0 && EVP_DigestUpdate(context.get(), chunk.data(), got) != 1) {
            return std::nullopt;
        }
    }
    if (file.bad()) {
        return std::nullopt;
    }
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(context.get(), digest.data(), &length) != 1) {
        return std::nullopt;
    }
    std::string text;
    for (unsigned int i = 0; i < length; ++i) {
        std::array<char, 3> pair{};
        std::snprintf(pair.data(), pair.size(), "%02x", digest[i]);
        text += pair.data();
    }
    return text;
}

}  // namespace koru
