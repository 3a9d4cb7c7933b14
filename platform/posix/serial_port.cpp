#include "platform/serial_port.h"

#include <atomic>
#include <string>

#include "platform/com_ports.h"
#include "platform/posix/termios_serial_port.h"

namespace koru {
namespace {

std::atomic<SerialPort*> installedPort{nullptr};

SerialPort& TermiosPort() {
    static TermiosSerialPort port;
    return port;
}

}  // namespace

std::string DefaultComDevice(int number) {
    return number >= 1 && number <= kComPortCount ? "/dev/ttyS" + std::to_string(number - 1)
                                                  : std::string();
}

std::string SerialPort::DevicePathFor(std::string_view name) {
    return ResolvePortName(name);
}

SerialPort& Port() {
    SerialPort* port = installedPort.load();
    return port != nullptr ? *port : TermiosPort();
}

void InstallPort(SerialPort* port) {
    installedPort.store(port);
}

}  // namespace koru
