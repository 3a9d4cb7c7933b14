#pragma once

// The termios implementation of SerialPort. Port() hands out the process's one instance; tests
// may make more of them (for instance to try a second open of the same device).

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/serial_port.h"

namespace koru {

class TermiosSerialPort final : public SerialPort {
  public:
    TermiosSerialPort() = default;
    ~TermiosSerialPort() override;
    TermiosSerialPort(const TermiosSerialPort&) = delete;
    TermiosSerialPort& operator=(const TermiosSerialPort&) = delete;

    bool Open(std::string_view name) override;
    void Close() override;
    bool IsOpen() const override { return fd_ >= 0; }

    bool SetupQueues(std::size_t inBytes, std::size_t outBytes) override;
    bool ClearErrors() override;
    bool ClearBreak() override;
    bool Purge() override;
    bool ConfigureLine() override;
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
    bool IsPseudoTerminal() const;

    int fd_ = -1;
    std::string path_;
    PortTimeouts timeouts_;
};

}  // namespace koru
