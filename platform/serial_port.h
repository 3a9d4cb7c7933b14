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

// A driver's line settings cannot carry the programmer's line: the reasons it is refused.
inline constexpr char kNoLineSpeedText[] = "串口驱动不接受19200波特率";
inline constexpr char kLineSettingsText[] = "串口驱动不接受8位数据、1位停止位的原始模式设置";

// COMMTIMEOUTS, in milliseconds, with exactly this meaning:
// - A read of n bytes returns as soon as all n bytes have arrived; or when readInterval is
//   non-zero, at least one byte has arrived and no further byte has come for readInterval since
//   the last one; or when readConstant + readMultiplier * n have passed since the read began
//   (only if that sum is non-zero). It returns whatever arrived, possibly nothing. With every
//   read field zero a read waits until all n bytes have come (or the port goes away).
// - A write of n bytes returns as soon as all n bytes have been handed to the driver, or when
//   writeConstant + writeMultiplier * n have passed since it began (only if that sum is
//   non-zero), with the number handed over.
// Both measure on the monotonic clock, so a change of the wall clock moves nothing.
struct PortTimeouts {
    std::uint32_t readInterval = 0;
    std::uint32_t readMultiplier = 0;
    std::uint32_t readConstant = 0;
    std::uint32_t writeMultiplier = 0;
    std::uint32_t writeConstant = 0;
};

// Why Open failed, as the operating system told it.
enum class PortOpenFailure : std::uint8_t {
    None,
    NoSuchDevice,      // no such file or device
    PermissionDenied,  // the user may not open it
    InUse,             // another program holds it
    NotATerminal,      // it opened but is no serial terminal
    Other,
};

struct PortOpenError {
    PortOpenFailure failure = PortOpenFailure::None;
    std::string path;        // the device path tried
    std::string group;       // PermissionDenied: the group that owns the device, when known
    std::string systemText;  // the system's own words for the error
};

class SerialPort {
  public:
    virtual ~SerialPort() = default;

    // "COM1".."COM4" (any case) map to KORU_COM1..KORU_COM4 when set, else to the saved
    // mapping, else /dev/ttyS0..3; any other name is taken as a device path (see com_ports.h).
    static std::string DevicePathFor(std::string_view name);

    // Opens the named port exclusively (O_NOCTTY, O_NONBLOCK, flock, TIOCEXCL) without waiting
    // for carrier. Closes whatever was open first. False when it cannot be opened.
    virtual bool Open(std::string_view name) = 0;
    // Why the last Open failed (failure None after one that succeeded).
    virtual PortOpenError LastOpenError() const { return {}; }
    virtual void Close() = 0;
    // A port is open (it may still have gone away since).
    virtual bool IsOpen() const = 0;
    // The operating system has reported the open port gone (removed, hung up) to one of the
    // primitives; stays so until the next Open or Close.
    virtual bool Gone() const { return false; }

    // Each returns false when no port is open or the port has gone away.
    virtual bool SetupQueues(std::size_t inBytes, std::size_t outBytes) = 0;
    virtual bool ClearErrors() = 0;
    virtual bool ClearBreak() = 0;
    virtual bool Purge() = 0;  // drop everything queued both ways
    // 19200 baud, 8 data bits, space parity, 1 stop bit, no flow control, raw. True when the
    // settings read back are these; a pseudo-terminal keeps no parity (and may answer EINVAL
    // for it), so there all but the parity count. False with LineRefusal() empty when the port
    // has gone away, with a reason when the driver would not take the settings.
    virtual bool ConfigureLine() = 0;
    // Why the last ConfigureLine refused the port (a driver that drops space parity or the
    // speed), one line for people; empty when it did not. The texts below are shared by the
    // backends, so an operator reads the same reason on every system.
    virtual std::string LineRefusal() const { return {}; }
    // Kept across Open and Close; until the first call every field is zero (reads block).
    virtual void SetTimeouts(const PortTimeouts& timeouts) = 0;

    // Blocks within the time-outs above; returns how many bytes were transferred.
    virtual std::size_t Read(std::uint8_t* buffer, std::size_t count) = 0;
    // A write hands its bytes over once they fit in the output queue of SetupQueues' size, as a
    // driver queue of that size would take them, so at most that many bytes wait for the line.
    virtual std::size_t Write(const std::uint8_t* buffer, std::size_t count) = 0;
    // Returns once the last written byte has left the line.
    virtual bool WaitTransmitEmpty() = 0;
};

// The port every routine of the link uses. Tests may put another SerialPort in its place.
SerialPort& Port();
void InstallPort(SerialPort* port);  // nullptr restores the termios port

}  // namespace koru
