#pragma once

// One pass over a record source gathers all that the reports show: the summary, the charts'
// counts for a page and each PC's own summary, of every record or of one lot's.

#include <map>
#include <optional>
#include <string>

#include "report/line_report.h"
#include "report/report_record.h"
#include "report/report_summary.h"

namespace koru {

struct ReportWants {
    bool page = false;               // the charts' counts
    bool perHost = false;            // each PC's summary
    std::optional<std::string> lot;  // only the records of that lot count
};

struct ReportReading {
    SourceResult read;
    ReportSummary summary;
    LineReport line;                             // with wants.page
    std::map<std::string, ReportSummary> hosts;  // with wants.perHost
};

ReportReading ReadReport(RecordSource& source, const ReportWants& wants);

}  // namespace koru
