#pragma once

// The operating-system calls the termios port is made of, as one table. The port reaches the
// terminal only through it, so tests can stand in for a real driver's ways (no break support,
// space parity dropped, EIO on unplug) on top of a pseudo-terminal.

#include <poll.h>
#include <sys/types.h>
#include <termios.h>

#include <functional>

namespace koru {

struct TermiosDriver {
    std::function<int(const char* path, int flags)> open;
    std::function<int(int fd, unsigned long request)> ioctl;  // requests without an argument
    std::function<int(int fd, termios* settings)> tcgetattr;
    std::function<int(int fd, int when, const termios* settings)> tcsetattr;
    std::function<int(pollfd* fds, nfds_t count, const timespec* timeout)> poll;
    std::function<ssize_t(int fd, void* buffer, size_t count)> read;
    std::function<ssize_t(int fd, const void* buffer, size_t count)> write;
    std::function<int(int fd)> tcdrain;
    std::function<int(int fd, int queues)> tcflush;
    std::function<int(int fd, int operation)> flock;
    std::function<int(int fd)> close;
    // A pseudo-terminal keeps no parity bit: its line settings are judged more leniently.
    std::function<bool(int fd)> isPseudoTerminal;
};

// The real calls (poll is ppoll, so the time-out keeps nanoseconds).
const TermiosDriver& SystemTermiosDriver();

// errno values that mean the device itself is gone (a removed adapter, a closed pseudo-terminal
// master), as opposed to a request the driver merely does not support.
bool ErrnoMeansPortGone(int error);

// errno values from TIOCCBRK that mean "this driver has no break to clear": USB-serial drivers
// without break support (ENOTTY), CDC-ACM devices without the capability (EOPNOTSUPP) or that
// stall the request (EPIPE), and drivers that reject it outright (EINVAL).
bool ErrnoMeansNoBreak(int error);

}  // namespace koru
