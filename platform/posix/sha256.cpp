#include "platform/sha256.h"

#include <openssl/evp.h>

#include <array>
#include <cstdio>

namespace koru {
namespace {

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

}  // namespace koru
