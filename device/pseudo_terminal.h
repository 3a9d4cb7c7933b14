#pragma once

// A pseudo-terminal for the simulated programmer: the master side it talks on, the path of the
// slave side the program opens, and a spare descriptor of the slave side that the simulator
// keeps open, so that the master never reads EIO or polls POLLHUP while the program has its
// side closed.

#include <optional>
#include <string>
#include <utility>

namespace koru::device {

// Owns one file descriptor.
class UniqueFd {
  public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd() { Reset(); }
    UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) {
            Reset(std::exchange(other.fd_, -1));
        }
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int Get() const { return fd_; }
    bool Valid() const { return fd_ >= 0; }
    void Reset(int fd = -1);

  private:
    int fd_ = -1;
};

struct PseudoTerminal {
    UniqueFd master;      // non-blocking
    UniqueFd spareSlave;  // never read or written
    std::string slavePath;

    // A new pseudo-terminal whose slave side is raw (no echo, no line editing) at 19200 baud.
    static std::optional<PseudoTerminal> Create();
};

}  // namespace koru::device
