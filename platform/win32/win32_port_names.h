#pragma once

// Serial ports on Windows: "COMn" is the port itself, COM10 and above included.

#include <string>
#include <string_view>
#include <vector>

namespace koru {

// n for "COMn" in any case with n from 1 to 255, else 0.
int WindowsComNumber(std::string_view name);

// The COM ports of the system: its DOS device names and its serial-port list
// (HKLM\HARDWARE\DEVICEMAP\SERIALCOMM), as "COMn", sorted by number, each once.
std::vector<std::string> SystemSerialPortNames();

}  // namespace koru
