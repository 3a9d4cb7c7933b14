#pragma once

// Serial ports on Windows: "COMn" is the port itself, COM10 and above included.

#include <string>
#include <string_view>
#include <vector>

namespace koru {

// n for "COMn" in any case with n from 1 to 255, else 0.
int WindowsComNumber(std::string_view name);

// The system's serial-port list (HKLM\HARDWARE\DEVICEMAP\SERIALCOMM), sorted by number.
std::vector<std::string> SystemSerialPortNames();

}  // namespace koru
