// The serial devices present on Windows: the COM names of the system's serial-port list. A COM
// name is the port itself, so each is its own preferred path.

#include "platform/port_list.h"
#include "platform/win32/win32_port_names.h"

namespace koru {

std::string DeviceRoot() {
    return {};
}

std::vector<DetectedPort> ListSerialPorts(const std::string&) {
    std::vector<DetectedPort> ports;
    for (const std::string& name : SystemSerialPortNames()) {
        DetectedPort port;
        port.device = name;
        ports.push_back(std::move(port));
    }
    return ports;
}

bool IsSystemPortName(const std::string& name) {
    return WindowsComNumber(name) != 0;
}

const std::string& PreferredPath(const DetectedPort& port) {
    return port.device;
}

std::string DescribePort(const DetectedPort& port) {
    return port.device;
}

}  // namespace koru
