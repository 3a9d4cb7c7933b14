#pragma once

// What koru-cli's --port names: COM1..COM4, a device path, or a fragment of a
// /dev/serial/by-id/ name (a serial number, say) that picks out exactly one device.

#include <optional>
#include <string>
#include <vector>

#include "platform/port_list.h"

namespace koru::cli {

// The name to open: a COM name or a path as given, else the one device the fragment matches
// (its by-id link where it has one). Nothing when the fragment matches no device or several;
// error then says so and lists the candidates, one per line.
std::optional<std::string> ResolvePortArgument(const std::string& argument,
                                               const std::vector<DetectedPort>& ports,
                                               std::string& error);

}  // namespace koru::cli
