#include "platform/serial_port.h"

#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <string>

#include "platform/termios_serial_port.h"

namespace koru {
namespace {

// Port names the operator can choose, and the device each maps to unless overridden.
constexpr int kComPortCount = 4;
constexpr const char* kDefaultComDevices[kComPortCount] = {"/dev/ttyS0", "/dev/ttyS1", "/dev/ttyS2",
                                                           "/dev/ttyS3"};
constexpr const char* kComOverrides[kComPortCount] = {"KORU_COM1", "KORU_COM2", "KORU_COM3",
                                                      "KORU_COM4"};

std::atomic<SerialPort*> installedPort{nullptr};

SerialPort& TermiosPort() {
    static TermiosSerialPort port;
    return port;
}

// 1..4 for "COM1".."COM4" in any case, else 0.
int ComNumber(std::string_view name) {
    if (name.size() != 4) {
        return 0;
    }
    for (int i = 0; i < 3; ++i) {
        if (std::toupper(static_cast<unsigned char>(name[i])) != "COM"[i]) {
            return 0;
        }
    }
    const char digit = name[3];
    return digit >= '1' && digit <= '0' + kComPortCount ? digit - '0' : 0;
}

}  // namespace

std::string SerialPort::DevicePathFor(std::string_view name) {
    const int number = ComNumber(name);
    if (number == 0) {
        return std::string(name);
    }
    const char* override = std::getenv(kComOverrides[number - 1]);
    if (override != nullptr && *override != '\0') {
        return override;
    }
    return kDefaultComDevices[number - 1];
}

SerialPort& Port() {
    SerialPort* port = installedPort.load();
    return port != nullptr ? *port : TermiosPort();
}

void InstallPort(SerialPort* port) {
    installedPort.store(port);
}

}  // namespace koru
