#pragma once

// A regular file opened for reading. Anything else (a folder, a FIFO, a device that never
// ends) does not open, so that a load neither waits nor reads forever.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/unique_fd.h"

namespace koru {

class InputFile {
  public:
    // False when path is no regular file that can be read.
    bool Open(const std::string& path);
    bool IsOpen() const { return fd_.Valid(); }

    // The file's size in bytes; nothing when it cannot be told.
    std::optional<std::uint64_t> Size() const;

    // Reads up to count bytes into out: how many came (0 at the end), or nothing on an error.
    std::optional<std::size_t> Read(char* out, std::size_t count);

  private:
    UniqueFd fd_;
};

}  // namespace koru
