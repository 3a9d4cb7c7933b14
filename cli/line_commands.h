#pragma once

// koru-cli's commands of the line database: serial (define, status, release, find), sync and
// report --db. Built with the line database only.

#include <string>

#include "cli/options.h"

namespace koru::cli {

// serial, sync or report --db, as options say.
int RunLineCommand(const Options& options, const std::string& savedDatabase);

}  // namespace koru::cli
