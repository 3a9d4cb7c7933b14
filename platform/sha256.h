#pragma once

// SHA-256 from the system's cryptography library: of text given piece by piece, or of a file.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace koru {

class Sha256 {
  public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    // Adds the next piece of the text.
    void Add(std::string_view piece);

    // How many bytes were added.
    std::uint64_t Size() const { return size_; }

    // The digest of everything added, as 64 lower-case hexadecimal digits; nothing when the
    // library failed. Ends the digest: nothing can be added after it.
    std::optional<std::string> Finish();

  private:
    struct State;
    std::unique_ptr<State> state_;  // null once the library has failed or Finish was called
    std::uint64_t size_ = 0;
};

// The digest of a file's contents, or nothing when the file cannot be read.
std::optional<std::string> Sha256OfFile(const std::string& path);

}  // namespace koru
