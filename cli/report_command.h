#pragma once

// koru-cli report: reads production record files and prints their summary.

#include <optional>
#include <string>
#include <vector>

namespace koru::cli {

// The files that args name: a path as it is; a day "2026-12-07" or a day range
// "2026-12-01..2026-12-07" as the day files in folder; no args: today's. Nothing with the
// reason in error when a day or range is malformed.
std::optional<std::vector<std::string>> ReportFiles(const std::vector<std::string>& args,
                                                    const std::string& folder, std::string& error);

// Prints the summary of the files to standard output. 0, or 3 when no file could be read.
int RunReport(const std::vector<std::string>& args, bool csv);

}  // namespace koru::cli
