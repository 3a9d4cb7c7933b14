#pragma once

// The termios implementation of SerialPort. Port() hands out the process's one instance; tests
// may make more of them (for instance to try a second open of the same device, or one that
// plays a driver's ways through its own TermiosDriver).

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "platform/posix/termios_driver.h"
#include "platform/serial_port.h"

namespace koru {

// One frame on the line: start bit, 8 data bits, parity bit, stop bit, at 19200 baud.
inline constexpr std::chrono::nanoseconds kLineFrameTime{1'000'000'000LL * 11 / 19200};
inline constexpr std::size_t kDefaultOutQueueBytes = 1024;

class TermiosSerialPort final : public SerialPort {
  public:
    explicit TermiosSerialPort(TermiosDriver driver = SystemTermiosDriver())
        : os_(std::move(driver)) {}
    ~TermiosSerialPort() override;
    TermiosSerialPort(const TermiosSerialPort&) = delete;
    TermiosSerialPort& operator=(const TermiosSerialPort&) = delete;

    bool Open(std::string_view name) override;
    void Close() override;
    bool IsOpen() const override { return fd_ >= 0; }
    PortOpenError LastOpenError() const override { return openError_; }
    bool Gone() const override { return gone_; }

    bool SetupQueues(std::size_t inBytes, std::size_t outBytes) override;
    bool ClearErrors() override;
    bool ClearBreak() override;
    bool Purge() override;
    bool ConfigureLine() override;
    std::string LineRefusal() const override { return lineRefusal_; }
    void SetTimeouts(const PortTimeouts& timeouts) override { timeouts_ = timeouts; }

    std::size_t Read(std::uint8_t* buffer, std::size_t count) override;
    std::size_t Write(const std::uint8_t* buffer, std::size_t count) override;
    bool WaitTransmitEmpty() override;

    // The device path of the open port, empty when none is open.
    const std::string& Path() const { return path_; }

  private:
    // True while the terminal still answers; a removed adapter or a closed pseudo-terminal
    // master makes tcgetattr fail with EIO.
    bool Alive() const;
    // Marks the port gone when error is one the OS gives for a removed or hung-up terminal.
    void NoteError(int error) const;
    void FailOpen(const std::string& path, int error, bool opened);

    // The transmit line as the program sees it: when the last byte handed over will have left
    // the line, and how many bytes may wait for it. Write returns only once its bytes fit in that
    // queue, and WaitTransmitEmpty waits for the line to fall idle, as on a port whose driver
    // queue is the size asked for. A kernel's own buffers can be far larger (a pseudo-terminal
    // takes tens of kilobytes at once), and a reply window must not start while seconds of
    // data still wait for the line.
    void WaitForQueueRoom(std::size_t count,
                          std::optional<std::chrono::steady_clock::time_point> deadline);

    TermiosDriver os_;
    int fd_ = -1;
    std::string path_;
    PortTimeouts timeouts_;
    std::size_t outQueueBytes_ = kDefaultOutQueueBytes;
    std::chrono::steady_clock::time_point lineIdleAt_{};
    std::string lineRefusal_;
    PortOpenError openError_;
    mutable std::atomic<bool> gone_{false};
};

}  // namespace koru
