#pragma once

// koru-cli report: reads production record files and prints their summary.

#include <optional>
#include <string>
#include <vector>

#include "cli/report_record.h"

namespace koru::cli {

// The files that args name: a path as it is; a day "2026-12-07" or a day range
// "2026-12-01..2026-12-07" as the day files in folder; no args: today's. Nothing with the
// reason in error when a day or range is malformed.
std::optional<std::vector<std::string>> ReportFiles(const std::vector<std::string>& args,
                                                    const std::string& folder, std::string& error);

// Prints the summary of the records of source to standard output (as text, or CSV with csv)
// and, with html, writes the HTML page there; sources says what the records were read from.
// perHost: the text adds each PC's own summary after the line's. 0, or 3 when nothing could be
// read or the page could not be written.
int WriteReport(RecordSource& source, const std::string& sources, bool csv,
                const std::optional<std::string>& html, bool perHost = false);

// The report of the files, days or day ranges args names (see ReportFiles).
int RunReport(const std::vector<std::string>& args, bool csv,
              const std::optional<std::string>& html);

}  // namespace koru::cli
