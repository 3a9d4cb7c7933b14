#include "device/device_line.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "device/simulator.h"

namespace koru::device {
namespace {

// Output that the other side does not take for this long is abandoned (the program has closed
// its port and its input queue is full).
constexpr auto kStuckOutput = std::chrono::seconds(2);
constexpr std::size_t kReadPiece = 512;

timespec ToTimespec(DeviceLine::Clock::duration left) {
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
    timespec out{};
    if (ns > 0) {
        out.tv_sec = static_cast<time_t>(ns / 1'000'000'000);
        out.tv_nsec = static_cast<long>(ns % 1'000'000'000);
    }
    return out;
}

}  // namespace

DeviceLine::DeviceLine(int masterFd, std::function<void(std::uint8_t)> onReceived)
    : masterFd_(masterFd), onReceived_(std::move(onReceived)) {
    wakeFd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
}

DeviceLine::~DeviceLine() {
    if (wakeFd_ >= 0) {
        ::close(wakeFd_);
    }
}

void DeviceLine::Notify() {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(wakeFd_, &one, sizeof one);
}

void DeviceLine::ReadAvailable() {
    if (masterFd_ < 0) {
        return;
    }
    std::uint8_t piece[kReadPiece];
    for (;;) {
        const ssize_t got = ::read(masterFd_, piece, sizeof piece);
        if (got <= 0) {
            return;  // EAGAIN, or EIO while no slave descriptor is open (the spare prevents it)
        }
        const auto now = Clock::now();
        for (ssize_t i = 0; i < got; ++i) {
            Clock::time_point taken = now;
            if (paced_) {
                inputLineFree_ = std::max(inputLineFree_, now) + kFrameTime;
                taken = inputLineFree_;
            }
            pending_.push_back({piece[i], taken});
            onReceived_(piece[i]);
        }
    }
}

bool DeviceLine::PollOnce(std::optional<Clock::time_point> deadline, bool wantWrite) {
    pollfd entries[2] = {{wakeFd_, POLLIN, 0}, {masterFd_, POLLIN, 0}};
    if (wantWrite) {
        entries[1].events |= POLLOUT;
    }
    const nfds_t count = masterFd_ >= 0 ? 2 : 1;
    timespec timeout{};
    timespec* timeoutPointer = nullptr;
    if (deadline) {
        timeout = ToTimespec(*deadline - Clock::now());
        timeoutPointer = &timeout;
    }
    const int ready = ::ppoll(entries, count, timeoutPointer, nullptr);
    if (ready <= 0) {
        return false;
    }
    bool notified = false;
    if (entries[0].revents & POLLIN) {
        std::uint64_t value = 0;
        [[maybe_unused]] const ssize_t got = ::read(wakeFd_, &value, sizeof value);
        notified = true;
    }
    if (count == 2 && (entries[1].revents & POLLIN)) {
        ReadAvailable();
    }
    return notified;
}

DeviceLine::Event DeviceLine::NextByte(std::uint8_t& byte,
                                       std::optional<Clock::time_point> deadline,
                                       bool returnOnNotify) {
    for (;;) {
        if (Interrupted()) {
            return Event::Interrupted;
        }
        const auto now = Clock::now();
        std::optional<Clock::time_point> wakeAt = deadline;
        if (!pending_.empty()) {
            if (pending_.front().taken <= now) {
                byte = pending_.front().value;
                pending_.pop_front();
                return Event::Byte;
            }
            wakeAt = wakeAt ? std::min(*wakeAt, pending_.front().taken) : pending_.front().taken;
        }
        if (deadline && now >= *deadline) {
            return Event::Deadline;
        }
        if (PollOnce(wakeAt, false) && returnOnNotify && !Interrupted()) {
            return Event::Notified;
        }
    }
}

bool DeviceLine::WaitUntil(Clock::time_point until) {
    while (!Interrupted()) {
        if (Clock::now() >= until) {
            return true;
        }
        PollOnce(until, false);
    }
    return false;
}

bool DeviceLine::Emit(const std::uint8_t* bytes, std::size_t count) {
    const auto start = Clock::now();
    const auto base = paced_ ? std::max(start, outputLineFree_) : start;
    std::size_t sent = 0;
    auto lastProgress = start;
    while (sent < count) {
        if (Interrupted()) {
            return false;
        }
        const auto now = Clock::now();
        std::size_t due = count;
        if (paced_) {
            // Byte i is complete on the line at base + (i + 1) frames; it is written then.
            due = std::min<std::size_t>(count, static_cast<std::size_t>((now - base) / kFrameTime));
        }
        if (due > sent) {
            if (paced_) {
                const auto lateness = now - (base + kFrameTime * static_cast<long>(sent + 1));
                const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(lateness);
                if (ns.count() > maxLatenessNs.load(std::memory_order_relaxed)) {
                    maxLatenessNs.store(ns.count(), std::memory_order_relaxed);
                }
            }
            const ssize_t put = ::write(masterFd_, bytes + sent, due - sent);
            if (put > 0) {
                sent += static_cast<std::size_t>(put);
                lastProgress = now;
                continue;
            }
            if (put < 0 && errno != EAGAIN && errno != EINTR) {
                return false;
            }
            if (now - lastProgress > kStuckOutput) {
                return false;
            }
            PollOnce(now + std::chrono::milliseconds(10), true);
            continue;
        }
        PollOnce(base + kFrameTime * static_cast<long>(sent + 1), false);
    }
    if (paced_) {
        outputLineFree_ = base + kFrameTime * static_cast<long>(count);
    }
    return true;
}

}  // namespace koru::device
