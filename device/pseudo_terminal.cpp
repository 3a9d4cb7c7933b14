#include "device/pseudo_terminal.h"

#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <array>

namespace koru::device {

void UniqueFd::Reset(int fd) {
    if (fd_ >= 0) {
        ::close(fd_);
    }
    fd_ = fd;
}

std::optional<PseudoTerminal> PseudoTerminal::Create() {
    PseudoTerminal terminal;
    terminal.master = UniqueFd(::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!terminal.master.Valid() || ::grantpt(terminal.master.Get()) != 0 ||
        ::unlockpt(terminal.master.Get()) != 0) {
        return std::nullopt;
    }
    std::array<char, 128> name{};
    if (::ptsname_r(terminal.master.Get(), name.data(), name.size()) != 0) {
        return std::nullopt;
    }
    terminal.slavePath = name.data();
    terminal.spareSlave = UniqueFd(::open(name.data(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!terminal.spareSlave.Valid()) {
        return std::nullopt;
    }
    // Raw from the start: with echo on, the device would read its own output back.
    termios settings{};
    if (::tcgetattr(terminal.spareSlave.Get(), &settings) != 0) {
        return std::nullopt;
    }
    ::cfmakeraw(&settings);
    ::cfsetispeed(&settings, B19200);
    ::cfsetospeed(&settings, B19200);
    if (::tcsetattr(terminal.spareSlave.Get(), TCSANOW, &settings) != 0) {
        return std::nullopt;
    }
    return terminal;
}

}  // namespace koru::device
