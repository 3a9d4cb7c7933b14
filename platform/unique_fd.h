#pragma once

// Owns one file descriptor (POSIX, or the C runtime's on Windows) and closes it when it goes
// out of scope.

#include <unistd.h>

#include <utility>

namespace koru {

class UniqueFd {
  public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) {
            Close();
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd() { Close(); }

    int Get() const { return fd_; }
    bool Valid() const { return fd_ >= 0; }

    // Closes now. False when close reported an error (a delayed write error, say); the
    // descriptor is released either way.
    bool Close() {
        if (fd_ < 0) {
            return true;
        }
        return ::close(std::exchange(fd_, -1)) == 0;
    }

  private:
    int fd_ = -1;
};

}  // namespace koru
