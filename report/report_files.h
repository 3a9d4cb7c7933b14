#pragma once

// Which record files a report reads: a path as it is, or a day and a day range as the day
// files of the production record folder.

#include <optional>
#include <string>
#include <vector>

namespace koru {

// The files that args name: a path as it is; a day "2026-12-07" or a day range
// "2026-12-01..2026-12-07" as the day files in folder; no args: today's. Nothing with the
// reason in error when a day or range is malformed.
std::optional<std::vector<std::string>> ReportFiles(const std::vector<std::string>& args,
                                                    const std::string& folder, std::string& error);

}  // namespace koru
