#include "platform/posix/termios_driver.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>

namespace koru {
namespace {

// Unix 98 pseudo-terminal slaves have these major numbers (136..143).
constexpr unsigned kPtySlaveMajorFirst = 136;
constexpr unsigned kPtySlaveMajorLast = 143;

bool IsPtySlave(int fd) {
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISCHR(info.st_mode)) {
        return false;
    }
    const unsigned majorNumber = major(info.st_rdev);
    return majorNumber >= kPtySlaveMajorFirst && majorNumber <= kPtySlaveMajorLast;
}

}  // namespace

const TermiosDriver& SystemTermiosDriver() {
    static const TermiosDriver driver{
        [](const char* path, int flags) { return ::open(path, flags); },
        [](int fd, unsigned long request) { return ::ioctl(fd, request); },
        [](int fd, termios* settings) { return ::tcgetattr(fd, settings); },
        [](int fd, int when, const termios* settings) { return ::tcsetattr(fd, when, settings); },
        [](pollfd* fds, nfds_t count, const timespec* timeout) {
            return ::ppoll(fds, count, timeout, nullptr);
        },
        [](int fd, void* buffer, size_t count) { return ::read(fd, buffer, count); },
        [](int fd, const void* buffer, size_t count) { return ::write(fd, buffer, count); },
        [](int fd) { return ::tcdrain(fd); },
        [](int fd, int queues) { return ::tcflush(fd, queues); },
        [](int fd, int operation) { return ::flock(fd, operation); },
        [](int fd) { return ::close(fd); },
        IsPtySlave,
    };
    return driver;
}

bool ErrnoMeansPortGone(int error) {
    return error == EIO || error == ENXIO || error == ENODEV;
}

bool ErrnoMeansNoBreak(int error) {
    return error == ENOTTY || error == EOPNOTSUPP || error == EINVAL || error == EPIPE;
}

}  // namespace koru
