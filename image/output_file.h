#pragma once

// A file written front to back through a buffer: text is appended whole and reaches the file
// in order; any write error is remembered and reported, at the latest by Close.

#include <cstddef>
#include <string>
#include <string_view>

#include "image/unique_fd.h"

namespace koru {

class OutputFile {
  public:
    OutputFile();

    // Creates path for writing, replacing an existing file. False when it cannot be created.
    bool Create(const std::string& path);

    // Adds text after everything appended before. False once any write has failed.
    bool Append(std::string_view text);

    // Writes what is buffered and closes the file. False when anything appended did not reach
    // the file (a full disk, a device that refuses writes) or closing reported an error.
    bool Close();

  private:
    static constexpr std::size_t kBufferBytes = 64 * 1024;

    bool Flush();

    UniqueFd fd_;
    std::string buffer_;
    bool failed_ = false;
};

}  // namespace koru
