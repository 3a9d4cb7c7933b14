#pragma once

// The serial devices present, found without opening any of them: on Linux from sysfs and the
// /dev/serial/by-id links udev makes, read under a root folder so that a test can hand in a
// tree of its own.

#include <optional>
#include <string>
#include <vector>

namespace koru {

// What a USB device says of itself (hexadecimal ids as sysfs gives them, e.g. "0403").
struct UsbDescription {
    std::string vendorId;
    std::string productId;
    std::string manufacturer;  // each text empty when the device has none
    std::string product;
    std::string serial;
};

struct DetectedPort {
    std::string device;  // e.g. /dev/ttyUSB0
    std::string byId;    // its /dev/serial/by-id/ link, empty when it has none
    std::optional<UsbDescription> usb;
};

// KORU_DEVICE_ROOT when set (a tree shaped like / with sys/ and dev/), else "/".
std::string DeviceRoot();

// Every serial device under root, sorted by device path. Paths are given under root. Ports of a
// built-in UART driver that found no hardware (type 0) are left out.
std::vector<DetectedPort> ListSerialPorts(const std::string& root = DeviceRoot());

// True when name is itself a port of the system, to be opened as it stands: on Windows any
// "COMn" (COM10 and above too); never on Linux, where COM1..COM4 are mapped names.
bool IsSystemPortName(const std::string& name);

// The path to save for a device: the by-id link where there is one, else the device path.
const std::string& PreferredPath(const DetectedPort& port);

// One line for people: device, by-id link, and for USB "vid:pid maker product serial ...".
std::string DescribePort(const DetectedPort& port);

}  // namespace koru
