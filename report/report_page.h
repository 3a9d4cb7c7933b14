#pragma once

// The HTML report: one self-contained page (inline style and SVG, no script, nothing fetched)
// with the line's header, its charts, the table report and the lines that did not parse.

#include <cstdint>
#include <string>

#include "report/line_report.h"
#include "report/report_record.h"
#include "report/report_summary.h"

namespace koru {

struct PageFacts {
    std::string made;     // when the page was made
    std::string sources;  // what it was made from (files, days)
};

std::string ReportPage(const ReportSummary& summary, const LineReport& line,
                       const PageFacts& facts);

// Writes the page alone of the records of source to html (a lot's report). passed: the passed
// chips it names. False with the reason.
bool WriteReportPage(RecordSource& source, const std::string& sources, const std::string& html,
                     std::uint64_t& passed, std::string& error);

}  // namespace koru
