#pragma once

// Gang programming: the same file programmed on several ports at once, one koru-cli process
// per port, round after round with --repeat.

#include <string>
#include <vector>

#include "cli/options.h"

namespace koru::cli {

// Set in the environment of a port's run when the gang shows live lines: the run then prints a
// long step's progress as lines of figures, which the port's live line shows.
inline constexpr char kFigureLinesVariable[] = "KORU_CLI_PROGRESS";
inline constexpr char kFigureLinesValue[] = "figure-lines";

// Several ports, or --repeat.
bool IsGang(const Options& options);

// The arguments of one port's run: args (the command line after the program name) with every
// --port and its value and --repeat left out (also as --port=... and --repeat=...), and
// "--port port" in front. Words after "--" are kept as they are.
std::vector<std::string> PortRunArguments(const std::vector<std::string>& args,
                                          const std::string& port);

// The exit status of a gang: 0 when every port passed, else the most serious port's code
// (1 chip failed < 2 no programmer or link lost < 3 bad usage); a run ended by a signal
// counts as 2, since nothing is known of its chip.
int GangExitStatus(const std::vector<int>& portStatuses);

// Runs the gang; args: the command line after the program name. Returns the exit status.
int RunGang(const Options& options, const std::vector<std::string>& args);

}  // namespace koru::cli
