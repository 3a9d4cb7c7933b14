#include "cli/port_resolver.h"

#include "platform/com_ports.h"

namespace koru::cli {
namespace {

std::string FileName(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool Matches(const DetectedPort& port, const std::string& fragment) {
    if (FileName(port.device) == fragment) {
        return true;  // "ttyUSB0"
    }
    if (!port.byId.empty() && FileName(port.byId).find(fragment) != std::string::npos) {
        return true;
    }
    return port.usb && !port.usb->serial.empty() &&
           port.usb->serial.find(fragment) != std::string::npos;
}

std::string Candidates(const std::vector<const DetectedPort*>& ports) {
    std::string list;
    for (const DetectedPort* port : ports) {
        list += "\n  " + DescribePort(*port);
    }
    return list;
}

}  // namespace

std::optional<std::string> ResolvePortArgument(const std::string& argument,
                                               const std::vector<DetectedPort>& ports,
                                               std::string& error) {
    if (ComNumber(argument) != 0 || IsSystemPortName(argument) ||
        argument.find('/') != std::string::npos) {
        return argument;
    }
    std::vector<const DetectedPort*> all;
    std::vector<const DetectedPort*> matching;
    for (const DetectedPort& port : ports) {
        all.push_back(&port);
        if (!argument.empty() && Matches(port, argument)) {
            matching.push_back(&port);
        }
    }
    if (matching.size() == 1) {
        return PreferredPath(*matching.front());
    }
    if (matching.empty()) {
        error =
            "no serial device matches \"" + argument + "\"" +
            (all.empty() ? std::string("; none found") : "; the devices found:" + Candidates(all));
    } else {
        error = "\"" + argument + "\" matches " + std::to_string(matching.size()) +
                " devices; give more of the name:" + Candidates(matching);
    }
    return std::nullopt;
}

}  // namespace koru::cli
