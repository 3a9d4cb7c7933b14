#pragma once

// The HTML report: one self-contained page (inline style and SVG, no script, nothing fetched)
// with the line's header, its charts, the table report and the lines that did not parse.

#include <string>

#include "cli/line_report.h"
#include "cli/report.h"

namespace koru::cli {

struct PageFacts {
    std::string made;     // when the page was made
    std::string sources;  // what it was made from (files, days)
};

std::string ReportPage(const ReportSummary& summary, const LineReport& line,
                       const PageFacts& facts);

}  // namespace koru::cli
