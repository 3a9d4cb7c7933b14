#pragma once

// koru-cli report: reads production record files and prints their summary.

#include <optional>
#include <string>
#include <vector>

#include "report/report_record.h"

namespace koru::cli {

// Prints the summary of the records of source to standard output (as text, or CSV with csv)
// and, with html, writes the HTML page there; sources says what the records were read from.
// perHost: the text adds each PC's own summary after the line's. 0, or 3 when nothing could be
// read or the page could not be written.
// lot: only the records of that lot count.
int WriteReport(RecordSource& source, const std::string& sources, bool csv,
                const std::optional<std::string>& html, bool perHost = false,
                const std::optional<std::string>& lot = std::nullopt);

// The report of the files, days or day ranges args names (see ReportFiles); lot: that lot's
// records only.
int RunReport(const std::vector<std::string>& args, bool csv,
              const std::optional<std::string>& html,
              const std::optional<std::string>& lot = std::nullopt);

}  // namespace koru::cli
