#pragma once

// The Win32 implementation of SerialPort: the native comm calls, whose time-outs are the
// COMMTIMEOUTS that PortTimeouts describes, so nothing is emulated. Port() hands out the
// process's one instance.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/serial_port.h"

namespace koru {

class Win32SerialPort final : public SerialPort {
  public:
    Win32SerialPort() = default;
    ~Win32SerialPort() override;
    Win32SerialPort(const Win32SerialPort&) = delete;
    Win32SerialPort& operator=(const Win32SerialPort&) = delete;

    bool Open(std::string_view name) override;
    void Close() override;
    bool IsOpen() const override { return handle_ != nullptr; }

    bool SetupQueues(std::size_t inBytes, std::size_t outBytes) override;
    bool ClearErrors() override;
    bool ClearBreak() override;
    bool Purge() override;
    bool ConfigureLine() override;
    void SetTimeouts(const PortTimeouts& timeouts) override;

    std::size_t Read(std::uint8_t* buffer, std::size_t count) override;
    std::size_t Write(const std::uint8_t* buffer, std::size_t count) override;
    bool WaitTransmitEmpty() override;

  private:
    bool ApplyTimeouts();

    void* handle_ = nullptr;  // the port's HANDLE; nullptr when closed
    PortTimeouts timeouts_;
};

}  // namespace koru
