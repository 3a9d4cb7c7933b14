#pragma once

// The simulated programmer's end of the serial line: the master side of the pseudo-terminal,
// with the pacing of a real 19200-baud line in both directions and waits that a stop or a
// hang-up request cuts short. Used only by the simulator's serving thread, except Notify.

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>

namespace koru::device {

class DeviceLine {
  public:
    using Clock = std::chrono::steady_clock;

    enum class Event {
        Byte,         // a byte was taken
        Deadline,     // the deadline passed first
        Interrupted,  // stop or hang-up requested, or the line is closed
        Notified,     // another thread called Notify (only when asked for)
    };

    // masterFd: non-blocking; onReceived is called with every byte as it is read off the line.
    DeviceLine(int masterFd, std::function<void(std::uint8_t)> onReceived);
    ~DeviceLine();
    DeviceLine(const DeviceLine&) = delete;
    DeviceLine& operator=(const DeviceLine&) = delete;

    bool Ready() const { return wakeFd_ >= 0; }
    void SetPaced(bool paced) { paced_ = paced; }

    // From any thread: wake the serving thread (a stop, a hang-up, new output, new scripts).
    void Notify();
    // Set by other threads before Notify; checked at every wait.
    std::atomic<bool> stopRequested{false};
    std::atomic<bool> hangUpRequested{false};
    bool Interrupted() const { return stopRequested || hangUpRequested || masterFd_ < 0; }

    // The master side has been closed (hang-up): nothing more is read or written.
    void Detach() { masterFd_ = -1; }

    // The next byte taken; with pacing a byte counts as taken one frame time after the one
    // before it (or after it was read, when the line was idle).
    Event NextByte(std::uint8_t& byte, std::optional<Clock::time_point> deadline,
                   bool returnOnNotify);
    // Drops bytes not yet taken.
    void DropPending() { pending_.clear(); }
    bool HasPending() const { return !pending_.empty(); }

    // Blocks until another thread calls Notify (used once the line is closed).
    void WaitForNotify() { PollOnce(std::nullopt, false); }

    // Waits until the time, reading the line meanwhile. False when interrupted.
    bool WaitUntil(Clock::time_point until);
    bool WaitFor(std::chrono::microseconds pause) { return WaitUntil(Clock::now() + pause); }

    // Sends the bytes; with pacing each byte appears one frame time after the one before it.
    // False when interrupted, or when the other side takes nothing for a long time.
    bool Emit(const std::uint8_t* bytes, std::size_t count);

    // The most a paced byte went out after its time on the line, since the last reset: a gap
    // the device itself put on the line.
    std::atomic<std::int64_t> maxLatenessNs{0};

  private:
    struct PendingByte {
        std::uint8_t value;
        Clock::time_point taken;
    };

    // One wait for input, a notification or the deadline; reads what came. Returns true when
    // notified. wantWrite adds the master's writability to what ends the wait.
    bool PollOnce(std::optional<Clock::time_point> deadline, bool wantWrite);
    void ReadAvailable();

    int masterFd_;
    int wakeFd_ = -1;
    bool paced_ = false;
    std::function<void(std::uint8_t)> onReceived_;
    std::deque<PendingByte> pending_;
    Clock::time_point inputLineFree_{};
    Clock::time_point outputLineFree_{};
};

}  // namespace koru::device
