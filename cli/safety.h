#pragma once

// The checks koru-cli makes before it sends anything to the programmer, and the exit status
// it gives for an outcome.

#include <optional>
#include <string>

#include "cli/options.h"
#include "core/outcome.h"
#include "image/program_memory.h"

namespace koru::cli {

enum ExitStatus { kSuccess = 0, kChipFailed = 1, kNoProgrammer = 2, kBadUsage = 3 };

// 0 success, 1 chip failed or supply fault, 2 link lost or no programmer, 3 refused.
int ExitStatusFor(OutcomeKind kind);

// Why the command cannot run for this chip kind or this --range (a command the chip kind does
// not have, a reversed range) or without --yes (read); nothing when it may.
std::optional<std::string> RefusalBeforeTraffic(const Options& options, bool otp);

// Without --range, program and verify run over the address fields as the load filled them,
// which count four digits: why the range read from them differs from the loaded file's, or
// nothing when it does not (the window's check before it programs).
std::optional<std::string> RefusalForLoadedRange(const Options& options, AddressRange loaded,
                                                 AddressRange read);

}  // namespace koru::cli
