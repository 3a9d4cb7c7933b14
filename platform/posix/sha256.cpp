#include "platform/sha256.h"

#include <openssl/evp.h>

#include <array>
#include <cstdio>
#include <fstream>

namespace koru {
namespace {

constexpr std::size_t kChunkBytes = 64 * 1024;

struct ContextFree {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};

}  // namespace

struct Sha256::State {
    std::unique_ptr<EVP_MD_CTX, ContextFree> context{EVP_MD_CTX_new()};
};

Sha256::Sha256() : state_(std::make_unique<State>()) {
    if (!state_->context || EVP_DigestInit_ex(state_->context.get(), EVP_sha256(), nullptr) != 1) {
        state_.reset();
    }
}

Sha256::~Sha256() = default;

void Sha256::Add(std::string_view piece) {
    size_ += piece.size();
    if (state_ && !piece.empty() &&
        EVP_DigestUpdate(state_->context.get(), piece.data(), piece.size()) != 1) {
        state_.reset();
    }
}

std::optional<std::string> Sha256::Finish() {
    if (!state_) {
        return std::nullopt;
    }
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
    unsigned int length = 0;
    const bool done = EVP_DigestFinal_ex(state_->context.get(), digest.data(), &length) == 1;
    state_.reset();
    if (!done) {
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

std::optional<std::string> Sha256OfFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        return std::nullopt;
    }
    Sha256 digest;
    std::array<char, kChunkBytes> chunk{};
    while (file) {
        file.read(chunk.data(), chunk.size());
        digest.Add(std::string_view(chunk.data(), static_cast<std::size_t>(file.gcount())));
    }
    if (file.bad()) {
        return std::nullopt;
    }
    return digest.Finish();
}

}  // namespace koru
