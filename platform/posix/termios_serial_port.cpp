#include "platform/posix/termios_serial_port.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <optional>
#include <thread>

namespace koru {
namespace {

using Clock = std::chrono::steady_clock;

constexpr speed_t kLineSpeed = B19200;  // the programmer's only rate

// Why a driver's line settings cannot carry the programmer's line.
constexpr char kNoSpaceParityText[] =
    "串口驱动不支持空校验(CMSPAR),无法发送第九位,请换用支持空校验的串口适配器";

// Deadline of a total time-out of constant + multiplier * count ms, none when both are zero.
std::optional<Clock::time_point> TotalDeadline(Clock::time_point start, std::uint32_t constant,
                                               std::uint32_t multiplier, std::size_t count) {
    const std::uint64_t ms =
        std::uint64_t{constant} + std::uint64_t{multiplier} * std::uint64_t{count};
    if (ms == 0) {
        return std::nullopt;
    }
    return start + std::chrono::milliseconds(ms);
}

enum class WaitResult { Ready, TimedOut, Failed };

// Waits until fd is ready for events or the deadline passes (none: no limit). POLLHUP and
// POLLERR count as ready: the next read or write tells what happened.
WaitResult WaitReady(const TermiosDriver& os, int fd, short events,
                     std::optional<Clock::time_point> deadline) {
    for (;;) {
        timespec timeout{};
        timespec* timeoutPointer = nullptr;
        if (deadline) {
            const auto left = *deadline - Clock::now();
            if (left <= Clock::duration::zero()) {
                return WaitResult::TimedOut;
            }
            const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
            timeout.tv_sec = static_cast<time_t>(ns / 1'000'000'000);
            timeout.tv_nsec = static_cast<long>(ns % 1'000'000'000);
            timeoutPointer = &timeout;
        }
        pollfd entry{fd, events, 0};
        const int ready = os.poll(&entry, 1, timeoutPointer);
        if (ready > 0) {
            return WaitResult::Ready;
        }
        if (ready < 0 && errno != EINTR) {
            return WaitResult::Failed;
        }
        // Time-out or signal: the loop checks the deadline against the clock again.
    }
}

// The name of the group that owns path, empty when it cannot be told.
std::string OwningGroup(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        return {};
    }
    const group* entry = ::getgrgid(info.st_gid);
    return entry != nullptr && entry->gr_name != nullptr ? entry->gr_name : std::string();
}

PortOpenFailure OpenFailureFor(int error, bool opened) {
    switch (error) {
        case ENOENT:
        case ENODEV:
        case ENXIO:
            return PortOpenFailure::NoSuchDevice;
        case EACCES:
        case EPERM:
            return PortOpenFailure::PermissionDenied;
        case EBUSY:
        case EWOULDBLOCK:
            return PortOpenFailure::InUse;
        case ENOTTY:
        case EINVAL:
            return opened ? PortOpenFailure::NotATerminal : PortOpenFailure::Other;
        default:
            return PortOpenFailure::Other;
    }
}

}  // namespace

TermiosSerialPort::~TermiosSerialPort() {
    Close();
}

bool TermiosSerialPort::Open(std::string_view name) {
    Close();
    const std::string path = DevicePathFor(name);
    // O_NONBLOCK: a real port without carrier would otherwise block here; reads wait in poll.
    const int fd = os_.open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        FailOpen(path, errno, false);
        return false;
    }
    termios settings{};
    // flock keeps out other cooperating programs (even root's); TIOCEXCL keeps out the rest.
    if (os_.tcgetattr(fd, &settings) != 0 || os_.flock(fd, LOCK_EX | LOCK_NB) != 0 ||
        os_.ioctl(fd, TIOCEXCL) != 0) {
        const int error = errno;
        os_.close(fd);
        FailOpen(path, error, true);
        return false;
    }
    openError_ = {};
    fd_ = fd;
    path_ = path;
    gone_ = false;
    outQueueBytes_ = kDefaultOutQueueBytes;
    lineIdleAt_ = Clock::now();
    lineRefusal_.clear();
    // A port opens raw, as a Win32 port does: no echo or line editing before the first set-up.
    ConfigureLine();
    return true;
}

void TermiosSerialPort::FailOpen(const std::string& path, int error, bool opened) {
    openError_.failure = OpenFailureFor(error, opened);
    openError_.path = path;
    openError_.group =
        openError_.failure == PortOpenFailure::PermissionDenied ? OwningGroup(path) : "";
    openError_.systemText = std::strerror(error);
}

void TermiosSerialPort::NoteError(int error) const {
    if (ErrnoMeansPortGone(error)) {
        gone_ = true;
    }
}

void TermiosSerialPort::Close() {
    gone_ = false;
    if (fd_ < 0) {
        return;
    }
    // Give up exclusivity first: the terminal may stay open elsewhere (a pseudo-terminal's
    // other side), and a later open by an ordinary user would otherwise be refused.
    os_.ioctl(fd_, TIOCNXCL);
    os_.close(fd_);
    fd_ = -1;
    path_.clear();
}

bool TermiosSerialPort::Alive() const {
    termios settings{};
    if (fd_ < 0) {
        return false;
    }
    if (os_.tcgetattr(fd_, &settings) != 0) {
        gone_ = true;  // the terminal no longer answers at all
        return false;
    }
    return true;
}

bool TermiosSerialPort::SetupQueues(std::size_t, std::size_t outBytes) {
    // The driver's queues have fixed sizes here: the output queue is modelled in the program
    // (see WaitForQueueRoom); the rest of the request is the check that the port can be used.
    if (outBytes > 0) {
        outQueueBytes_ = outBytes;
    }
    return Alive();
}

bool TermiosSerialPort::ClearErrors() {
    // Line errors are not latched by the driver (parity is not checked, breaks are ignored), so
    // there is nothing to clear; the call still fails on a port that has gone away.
    return Alive();
}

bool TermiosSerialPort::ClearBreak() {
    if (fd_ < 0) {
        return false;
    }
    if (os_.ioctl(fd_, TIOCCBRK) == 0) {
        return true;
    }
    const int error = errno;
    if (ErrnoMeansNoBreak(error)) {
        return true;  // no break support: there is no break to clear either
    }
    // Only a device that is gone fails the port; anything else is judged by whether it answers.
    NoteError(error);
    return !gone_ && Alive();
}

bool TermiosSerialPort::Purge() {
    lineIdleAt_ = Clock::now();
    if (fd_ < 0) {
        return false;
    }
    if (os_.tcflush(fd_, TCIOFLUSH) == 0) {
        return true;
    }
    NoteError(errno);
    return !gone_ && Alive();
}

bool TermiosSerialPort::ConfigureLine() {
    lineRefusal_.clear();
    termios settings{};
    if (fd_ < 0 || os_.tcgetattr(fd_, &settings) != 0) {
        return false;
    }
    ::cfmakeraw(&settings);
    ::cfsetispeed(&settings, kLineSpeed);
    ::cfsetospeed(&settings, kLineSpeed);
    // 8 data bits, space parity (stick parity, even sense), 1 stop bit, no modem control.
    settings.c_cflag &= ~(CSIZE | CSTOPB | PARODD | CRTSCTS | HUPCL);
    settings.c_cflag |= CS8 | PARENB | CMSPAR | CREAD | CLOCAL;
    // Parity errors are not checked and breaks are dropped: neither may end a transfer.
    settings.c_iflag &= ~(INPCK | PARMRK | IXON | IXOFF | IXANY);
    settings.c_iflag |= IGNBRK;
    // Reads return as soon as one byte is there; the time-outs are kept by poll.
    settings.c_cc[VMIN] = 1;
    settings.c_cc[VTIME] = 0;
    // A pseudo-terminal may answer EINVAL for space parity although it took the rest: the
    // settings read back decide.
    os_.tcsetattr(fd_, TCSANOW, &settings);
    termios applied{};
    if (os_.tcgetattr(fd_, &applied) != 0) {
        return false;
    }
    const tcflag_t lineBits = CSIZE | CSTOPB | PARENB | CMSPAR | PARODD | CRTSCTS;
    const tcflag_t withoutParity = lineBits & ~(PARENB | CMSPAR);
    const bool rawInput = (applied.c_lflag & (ICANON | ECHO | ISIG)) == 0 &&
                          applied.c_cc[VMIN] == 1 && applied.c_cc[VTIME] == 0;
    if (::cfgetispeed(&applied) != kLineSpeed || ::cfgetospeed(&applied) != kLineSpeed) {
        lineRefusal_ = kNoLineSpeedText;
        return false;
    }
    if (!rawInput || (applied.c_cflag & withoutParity) != (settings.c_cflag & withoutParity)) {
        lineRefusal_ = kLineSettingsText;
        return false;
    }
    if ((applied.c_cflag & lineBits) == (settings.c_cflag & lineBits)) {
        return true;
    }
    // A pseudo-terminal keeps no parity and reads back without PARENB; only there is that fine.
    // A real driver that drops CMSPAR would send a mark or even parity bit instead of the ninth
    // bit the programmer expects, and every exchange would fail without a visible reason.
    if (os_.isPseudoTerminal(fd_)) {
        return true;
    }
    lineRefusal_ = kNoSpaceParityText;
    return false;
}

std::size_t TermiosSerialPort::Read(std::uint8_t* buffer, std::size_t count) {
    if (fd_ < 0 || count == 0) {
        return 0;
    }
    const auto total =
        TotalDeadline(Clock::now(), timeouts_.readConstant, timeouts_.readMultiplier, count);
    const auto interval = std::chrono::milliseconds(timeouts_.readInterval);
    std::size_t received = 0;
    Clock::time_point lastByte{};
    for (;;) {
        const ssize_t got = os_.read(fd_, buffer + received, count - received);
        if (got > 0) {
            received += static_cast<std::size_t>(got);
            lastByte = Clock::now();
            if (received == count) {
                return received;
            }
            continue;  // more may already be queued
        }
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got == 0) {
            gone_ = true;  // end of file on a terminal: it has been hung up
            return received;
        }
        if (errno != EAGAIN) {
            NoteError(errno);  // hung up (EIO) or another failure: nothing more will come
            return received;
        }
        std::optional<Clock::time_point> deadline = total;
        if (received > 0 && timeouts_.readInterval != 0) {
            const auto gapEnd = lastByte + interval;
            deadline = deadline ? std::min(*deadline, gapEnd) : gapEnd;
        }
        const WaitResult waited = WaitReady(os_, fd_, POLLIN, deadline);
        if (waited != WaitResult::Ready) {
            // A byte may have come in the last instant; take what is queued without waiting.
            if (waited == WaitResult::TimedOut) {
                const ssize_t late = os_.read(fd_, buffer + received, count - received);
                if (late > 0) {
                    received += static_cast<std::size_t>(late);
                }
            }
            return received;
        }
    }
}

void TermiosSerialPort::WaitForQueueRoom(std::size_t count,
                                         std::optional<Clock::time_point> deadline) {
    const std::size_t room = count < outQueueBytes_ ? outQueueBytes_ - count : 0;
    auto roomAt = lineIdleAt_ - kLineFrameTime * static_cast<long>(room);
    if (deadline && roomAt > *deadline) {
        roomAt = *deadline;
    }
    std::this_thread::sleep_until(roomAt);
}

std::size_t TermiosSerialPort::Write(const std::uint8_t* buffer, std::size_t count) {
    if (fd_ < 0 || count == 0) {
        return 0;
    }
    const auto deadline =
        TotalDeadline(Clock::now(), timeouts_.writeConstant, timeouts_.writeMultiplier, count);
    WaitForQueueRoom(count, deadline);
    std::size_t written = 0;
    while (written < count) {
        const ssize_t put = os_.write(fd_, buffer + written, count - written);
        if (put > 0) {
            written += static_cast<std::size_t>(put);
            lineIdleAt_ = std::max(lineIdleAt_, Clock::now()) + kLineFrameTime * put;
            continue;
        }
        if (put < 0 && errno == EINTR) {
            continue;
        }
        if (put < 0 && errno != EAGAIN) {
            NoteError(errno);
            break;
        }
        if (put == 0) {
            break;
        }
        if (WaitReady(os_, fd_, POLLOUT, deadline) != WaitResult::Ready) {
            break;
        }
    }
    return written;
}

bool TermiosSerialPort::WaitTransmitEmpty() {
    for (;;) {
        if (fd_ < 0) {
            return false;
        }
        if (os_.tcdrain(fd_) == 0) {
            // A pseudo-terminal drains at once; the line still needs its time.
            std::this_thread::sleep_until(lineIdleAt_);
            return true;
        }
        if (errno != EINTR) {
            NoteError(errno);
            return false;
        }
    }
}

}  // namespace koru
