#pragma once

// koru-cli report: reads production record files and prints their summary.

#include <cstdint>
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
// lot: only the records of that lot count.
int WriteReport(RecordSource& source, const std::string& sources, bool csv,
                const std::optional<std::string>& html, bool perHost = false,
                const std::optional<std::string>& lot = std::nullopt);

// Writes the HTML page alone of the records of source to html (a lot's report). passed: the
// passed chips it names. False with the reason.
bool WriteReportPage(RecordSource& source, const std::string& sources, const std::string& html,
                     std::uint64_t& passed, std::string& error);

// The report of the files, days or day ranges args names (see ReportFiles); lot: that lot's
// records only.
int RunReport(const std::vector<std::string>& args, bool csv,
              const std::optional<std::string>& html,
              const std::optional<std::string>& lot = std::nullopt);

}  // namespace koru::cli
