#pragma once

// Why a port could not be opened, in words: the device path and the cause, with what the
// operator can do about it.

#include <string>

#include "platform/serial_port.h"

namespace koru {

// One line for koru-cli, e.g. "/dev/ttyUSB0: permission denied: ..."; empty when error holds
// no failure.
std::string PortOpenErrorText(const PortOpenError& error);

// The same cause as one line in the window's language, put below a warning box's text.
std::string PortOpenErrorLine(const PortOpenError& error);

}  // namespace koru
