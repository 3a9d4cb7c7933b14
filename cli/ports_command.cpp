#include "cli/ports_command.h"

#include <cstdio>

#include "platform/port_list.h"

namespace koru::cli {

int RunPortsCommand() {
    const auto ports = ListSerialPorts();
    for (const DetectedPort& port : ports) {
        std::printf("%s\n", DescribePort(port).c_str());
    }
    if (ports.empty()) {
        std::fprintf(stderr, "koru-cli: no serial devices found\n");
    }
    std::fflush(stdout);
    return 0;
}

}  // namespace koru::cli
