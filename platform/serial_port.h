#pragma once

// The one serial port of the process, with the small set of Win32-shaped primitives the
// transport is written in (open, set up queues, clear errors, clear break, purge, configure
// the line, set time-outs, read, write, wait until the transmitter is empty, close), over
// termios. A port that has gone away (a removed USB adapter) makes the primitives fail; none
// of them blocks or spins on it.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace koru {

// COMMTIMEOUTS, in milliseconds. A read of n bytes returns when all n bytes have arrived, when
// the gap after a received byte exceeds readInterval, or when readConstant +
// readMultiplier * n have passed since the read began, whichever comes first, with whatever
// arrived. A write gives up after writeConstant + writeMultiplier * n without progress.
struct PortTimeouts {
    std::uint32_t readInterval = 0;
    std::uint32_t readMultiplier = 0;
    std::uint32_t readConstant = 0;
    std::uint32_t writeMultiplier = 0;
    std::uint32_t writeConstant = 0;
};

class SerialPort {
  public:
    virtual ~SerialPort() = default;

    // "COM1".."COM4" (any case) map to KORU_COM1..KORU_COM4 when set, else /dev/ttyS0..3;
    // any other name is taken as a device path.
    static std::string DevicePathFor(std::string_view name);

    // Opens the named port exclusively (O_NOCTTY, O_NONBLOCK, flock, TIOCEXCL) without waiting
    // for carrier. Closes whatever was open first. False when it cannot be opened.
    virtual bool Open(std::string_view name) = 0;
    virtual void Close() = 0;
    // A port is open (it may still have gone away since).
    virtual bool IsOpen() const = 0;

    // Each returns false when no port is open or the port has gone away.
    virtual bool SetupQueues(std::size_t inBytes, std::size_t outBytes) = 0;
    virtual bool ClearErrors() = 0;
    virtual bool ClearBreak() = 0;
    virtual bool Purge() = 0;  // drop everything queued both ways
    // 19200 baud, 8 data bits, space parity, 1 stop bit, no flow control. The result is not
    // relied on: a pseudo-terminal refuses space parity although the rest takes effect.
    virtual bool ConfigureLine() = 0;
    virtual void SetTimeouts(const PortTimeouts& timeouts) = 0;

    // Blocks within the time-outs above; returns how many bytes were transferred.
    virtual std::size_t Read(std::uint8_t* buffer, std::size_t count) = 0;
    virtual std::size_t Write(const std::uint8_t* buffer, std::size_t count) = 0;
    // Returns once the last written byte has left the line.
    virtual bool WaitTransmitEmpty() = 0;
};

// The port every routine of the link uses. Tests may put another SerialPort in its place.
SerialPort& Port();
void InstallPort(SerialPort* port);  // nullptr restores the termios port

}  // namespace koru
