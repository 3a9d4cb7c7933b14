// SHA-256 through Windows' own cryptography (CNG).

#include <windows.h>
// after windows.h
#include <bcrypt.h>

#include <array>
#include <cstdio>

#include "platform/sha256.h"

namespace koru {
namespace {

constexpr std::size_t kDigestBytes = 32;
constexpr std::size_t kLargestPiece = 0x40000000;  // what one BCryptHashData call takes at most

bool Succeeded(NTSTATUS status) {
    return status >= 0;
}

}  // namespace

struct Sha256::State {
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;

    ~State() {
        if (hash != nullptr) {
            ::BCryptDestroyHash(hash);
        }
        if (algorithm != nullptr) {
            ::BCryptCloseAlgorithmProvider(algorithm, 0);
        }
    }
};

Sha256::Sha256() : state_(std::make_unique<State>()) {
    if (!Succeeded(::BCryptOpenAlgorithmProvider(&state_->algorithm, BCRYPT_SHA256_ALGORITHM,
                                                 nullptr, 0))) {
        state_->algorithm = nullptr;
        state_.reset();
        return;
    }
    if (!Succeeded(
            ::BCryptCreateHash(state_->algorithm, &state_->hash, nullptr, 0, nullptr, 0, 0))) {
        state_->hash = nullptr;
        state_.reset();
    }
}

Sha256::~Sha256() = default;

void Sha256::Add(std::string_view piece) {
    size_ += piece.size();
    while (state_ && !piece.empty()) {
        const std::size_t part = piece.size() < kLargestPiece ? piece.size() : kLargestPiece;
        auto* bytes = reinterpret_cast<PUCHAR>(const_cast<char*>(piece.data()));
        if (!Succeeded(::BCryptHashData(state_->hash, bytes, static_cast<ULONG>(part), 0))) {
            state_.reset();
        }
        piece.remove_prefix(part);
    }
}

std::optional<std::string> Sha256::Finish() {
    if (!state_) {
        return std::nullopt;
    }
    std::array<unsigned char, kDigestBytes> digest{};
    const bool done = Succeeded(::BCryptFinishHash(state_->hash, digest.data(), digest.size(), 0));
    state_.reset();
    if (!done) {
        return std::nullopt;
    }
    std::string text;
    for (unsigned char byte : digest) {
        char pair[3];
        std::snprintf(pair, sizeof pair, "%02x", byte);
        text += pair;
    }
    return text;
}

}  // namespace koru
