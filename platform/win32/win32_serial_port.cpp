#include "platform/win32/win32_serial_port.h"

#include <windows.h>

#include <algorithm>
#include <limits>
#include <string>

namespace koru {
namespace {

constexpr DWORD kLineSpeed = CBR_19200;  // the programmer's only rate

HANDLE AsHandle(void* handle) {
    return static_cast<HANDLE>(handle);
}

// Win32 transfers count in DWORDs; a larger request is cut to what one call can take.
DWORD ClampCount(std::size_t count) {
    return static_cast<DWORD>(std::min<std::size_t>(count, std::numeric_limits<DWORD>::max()));
}

PortOpenFailure OpenFailureFor(DWORD error, bool opened) {
    if (opened) {
        return PortOpenFailure::NotATerminal;
    }
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
            return PortOpenFailure::NoSuchDevice;
        case ERROR_ACCESS_DENIED:  // what a port held by another program answers
        case ERROR_SHARING_VIOLATION:
            return PortOpenFailure::InUse;
        default:
            return PortOpenFailure::Other;
    }
}

std::string SystemText(DWORD error) {
    char text[256] = {};
    const DWORD length =
        ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error,
                         0, text, sizeof text, nullptr);
    std::string result(text, length);
    while (!result.empty() && (result.back() == '\n' || result.back() == '\r')) {
        result.pop_back();
    }
    return result.empty() ? "error " + std::to_string(error) : result;
}

}  // namespace

Win32SerialPort::~Win32SerialPort() {
    Close();
}

bool Win32SerialPort::Open(std::string_view name) {
    Close();
    openError_ = {};
    const std::string path = DevicePathFor(name);
    // Share mode 0: no other program may open the port while it is ours.
    const HANDLE handle = ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                        OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        FailOpen(path, ::GetLastError(), false);
        return false;
    }
    handle_ = handle;
    // The time-outs set before the open hold for the new port too; a device that takes none
    // is no serial port.
    if (!ApplyTimeouts()) {
        FailOpen(path, ::GetLastError(), true);
        Close();
        return false;
    }
    ConfigureLine();
    return true;
}

void Win32SerialPort::FailOpen(const std::string& path, unsigned long error, bool opened) {
    openError_.failure = OpenFailureFor(error, opened);
    openError_.path = path;
    openError_.systemText = SystemText(error);
}

void Win32SerialPort::NoteError(unsigned long error) const {
    if (error == ERROR_DEVICE_REMOVED || error == ERROR_BAD_COMMAND ||
        error == ERROR_DEV_NOT_EXIST || error == ERROR_GEN_FAILURE ||
        error == ERROR_INVALID_HANDLE) {
        gone_ = true;
    }
}

void Win32SerialPort::Close() {
    gone_ = false;
    if (handle_ == nullptr) {
        return;
    }
    ::CloseHandle(AsHandle(handle_));
    handle_ = nullptr;
}

bool Win32SerialPort::SetupQueues(std::size_t inBytes, std::size_t outBytes) {
    return handle_ != nullptr &&
           ::SetupComm(AsHandle(handle_), ClampCount(inBytes), ClampCount(outBytes)) != 0;
}

bool Win32SerialPort::ClearErrors() {
    DWORD errors = 0;
    COMSTAT status{};
    if (handle_ == nullptr) {
        return false;
    }
    if (::ClearCommError(AsHandle(handle_), &errors, &status) == 0) {
        NoteError(::GetLastError());
        return false;
    }
    return true;
}

bool Win32SerialPort::ClearBreak() {
    return handle_ != nullptr && ::ClearCommBreak(AsHandle(handle_)) != 0;
}

bool Win32SerialPort::Purge() {
    return handle_ != nullptr &&
           ::PurgeComm(AsHandle(handle_),
                       PURGE_RXABORT | PURGE_RXCLEAR | PURGE_TXABORT | PURGE_TXCLEAR) != 0;
}

bool Win32SerialPort::ConfigureLine() {
    lineRefusal_.clear();
    DCB line{};
    line.DCBlength = sizeof line;
    if (handle_ == nullptr) {
        return false;
    }
    if (::GetCommState(AsHandle(handle_), &line) == 0) {
        NoteError(::GetLastError());
        return false;
    }
    line.BaudRate = kLineSpeed;
    line.ByteSize = 8;
    line.Parity = SPACEPARITY;
    line.StopBits = ONESTOPBIT;
    line.fBinary = TRUE;
    // Parity errors are not checked and nothing stops on an error: neither may end a transfer.
    line.fParity = FALSE;
    line.fErrorChar = FALSE;
    line.fAbortOnError = FALSE;
    line.fNull = FALSE;
    // No flow control of any kind. DTR and RTS keep the state the port has (a line without
    // modem lines refuses any change to them); only a handshake that would drive them goes.
    line.fOutxCtsFlow = FALSE;
    line.fOutxDsrFlow = FALSE;
    line.fDsrSensitivity = FALSE;
    line.fOutX = FALSE;
    line.fInX = FALSE;
    if (line.fDtrControl == DTR_CONTROL_HANDSHAKE) {
        line.fDtrControl = DTR_CONTROL_ENABLE;
    }
    if (line.fRtsControl == RTS_CONTROL_HANDSHAKE || line.fRtsControl == RTS_CONTROL_TOGGLE) {
        line.fRtsControl = RTS_CONTROL_ENABLE;
    }
    // Wine on a pseudo-terminal, which has no parity bit, answers an invalid parameter for
    // space parity after taking the rest: the settings read back decide, parity left out, as
    // for a pseudo-terminal on Linux. A driver that took nothing keeps another speed or size.
    DWORD setError = ERROR_SUCCESS;
    if (::SetCommState(AsHandle(handle_), &line) == 0) {
        setError = ::GetLastError();
        NoteError(setError);
        if (gone_) {
            return false;
        }
    }
    DCB applied{};
    applied.DCBlength = sizeof applied;
    if (::GetCommState(AsHandle(handle_), &applied) == 0) {
        NoteError(::GetLastError());
        return false;
    }
    if (applied.BaudRate != kLineSpeed || applied.ByteSize != 8 || applied.StopBits != ONESTOPBIT) {
        lineRefusal_ = applied.BaudRate != kLineSpeed ? kNoLineSpeedText : kLineSettingsText;
        if (setError != ERROR_SUCCESS) {
            lineRefusal_ += ": " + SystemText(setError);
        }
        return false;
    }
    return true;
}

void Win32SerialPort::SetTimeouts(const PortTimeouts& timeouts) {
    timeouts_ = timeouts;
    ApplyTimeouts();
}

bool Win32SerialPort::ApplyTimeouts() {
    if (handle_ == nullptr) {
        return true;  // applied at the next open
    }
    COMMTIMEOUTS native{};
    native.ReadIntervalTimeout = timeouts_.readInterval;
    native.ReadTotalTimeoutMultiplier = timeouts_.readMultiplier;
    native.ReadTotalTimeoutConstant = timeouts_.readConstant;
    native.WriteTotalTimeoutMultiplier = timeouts_.writeMultiplier;
    native.WriteTotalTimeoutConstant = timeouts_.writeConstant;
    return ::SetCommTimeouts(AsHandle(handle_), &native) != 0;
}

std::size_t Win32SerialPort::Read(std::uint8_t* buffer, std::size_t count) {
    if (handle_ == nullptr || count == 0) {
        return 0;
    }
    DWORD got = 0;
    if (::ReadFile(AsHandle(handle_), buffer, ClampCount(count), &got, nullptr) == 0) {
        NoteError(::GetLastError());
        return 0;  // the port has gone away, or the read failed: nothing counts as received
    }
    if (got < count) {
        got += ReadQueued(buffer + got, count - got);
    }
    return got;
}

std::size_t Win32SerialPort::ReadQueued(std::uint8_t* buffer, std::size_t count) {
    // A time-out can run out while the bytes are already queued: under Wine on a loaded machine
    // the wait ends before the process is scheduled to take them. Like the POSIX port, take
    // what is queued without waiting, so a late process is not taken for a silent programmer.
    DWORD errors = 0;
    COMSTAT status{};
    if (::ClearCommError(AsHandle(handle_), &errors, &status) == 0 || status.cbInQue == 0) {
        return 0;
    }
    COMMTIMEOUTS immediate{};
    immediate.ReadIntervalTimeout = MAXDWORD;  // with both totals 0: return what is queued
    if (::SetCommTimeouts(AsHandle(handle_), &immediate) == 0) {
        return 0;
    }
    DWORD got = 0;
    if (::ReadFile(AsHandle(handle_), buffer, ClampCount(count), &got, nullptr) == 0) {
        NoteError(::GetLastError());
        got = 0;
    }
    ApplyTimeouts();
    return got;
}

std::size_t Win32SerialPort::Write(const std::uint8_t* buffer, std::size_t count) {
    if (handle_ == nullptr || count == 0) {
        return 0;
    }
    // A write that times out or fails still reports the bytes it moved.
    DWORD put = 0;
    if (::WriteFile(AsHandle(handle_), buffer, ClampCount(count), &put, nullptr) == 0) {
        NoteError(::GetLastError());
    }
    return put;
}

bool Win32SerialPort::WaitTransmitEmpty() {
    // On a comm port FlushFileBuffers returns once the driver's output queue has gone out.
    return handle_ != nullptr && ::FlushFileBuffers(AsHandle(handle_)) != 0;
}

}  // namespace koru
