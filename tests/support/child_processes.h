#pragma once

// Finds the koru-cli processes a test started, by their `--port PATH` arguments, in /proc.

#include <sys/types.h>

#include <string>
#include <vector>

namespace koru::test {

// The children of this process whose command line holds `--port port`, in /proc's order; with
// grandchildren, each is followed by its own children that hold it too. Empty when none runs.
std::vector<pid_t> ChildProcessesForPort(const std::string& port, bool grandchildren);

}  // namespace koru::test
