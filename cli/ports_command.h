#pragma once

// koru-cli ports: the serial devices present, one line each, without opening any.

namespace koru::cli {

// Prints the list to standard output; returns the exit status (0, also when none is found).
int RunPortsCommand();

}  // namespace koru::cli
