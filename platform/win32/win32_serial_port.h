#pragma once

// The Win32 implementation of SerialPort: the native comm calls, whose time-outs are the
// COMMTIMEOUTS that PortTimeouts describes, so nothing is emulated. Port() hands out the
// process's one instance.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
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
    PortOpenError LastOpenError() const override { return openError_; }
    bool Gone() const override { return gone_; }

    bool SetupQueues(std::size_t inBytes, std::size_t outBytes) override;
    bool ClearErrors() override;
    bool ClearBreak() override;
    bool Purge() override;
    bool ConfigureLine() override;
    std::string LineRefusal() const override { return lineRefusal_; }
    void SetTimeouts(const PortTimeouts& timeouts) override;

    std::size_t Read(std::uint8_t* buffer, std::size_t count) override;
    std::size_t Write(const std::uint8_t* buffer, std::size_t count) override;
    bool WaitTransmitEmpty() override;

  private:
    bool ApplyTimeouts();
    // What the driver has queued already, taken without waiting.
    std::size_t ReadQueued(std::uint8_t* buffer, std::size_t count);
    // Marks the port gone when error is one Windows gives for a removed device.
    void NoteError(unsigned long error) const;
    void FailOpen(const std::string& path, unsigned long error, bool opened);

    void* handle_ = nullptr;  // the port's HANDLE; nullptr when closed
    PortTimeouts timeouts_;
    PortOpenError openError_;
    std::string lineRefusal_;
    mutable std::atomic<bool> gone_{false};
};

}  // namespace koru
