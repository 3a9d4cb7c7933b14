#pragma once

// The summary of production records: per code file image and per port, how many chips passed,
// which steps the failures stopped at, how many runs lost the link or met a silent programmer,
// how many runs found no programmer at all, the first and last time.

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "report/report_record.h"

namespace koru {

// A damaged file can hold thousands of lines that are not records: the report names this many
// and counts the rest.
inline constexpr std::size_t kNamedBadLines = 10;

struct ReportGroup {
    std::uint64_t chips = 0;
    std::uint64_t passed = 0;
    std::uint64_t failed = 0;        // the chip failed a step (not counting lost links)
    std::uint64_t linkLost = 0;      // the run ended because the port went away
    std::uint64_t noAnswer = 0;      // the programmer fell silent: no verdict on the chip
    std::uint64_t noProgrammer = 0;  // runs where no programmer answered: no chip, not counted
    std::map<std::string, std::uint64_t> failedByStep;
    std::string first, last;  // record times; ISO text of one offset compares in time order
};

// A port as the summary counts it: host, then "port (device)". The same port name on two PCs
// is two sockets.
using HostPort = std::pair<std::string, std::string>;

struct ReportSummary {
    std::map<std::string, ReportGroup> images;  // "path sha256"
    // "name checksum", "name checksum lot NAME" for a lot's records: job runs only.
    std::map<std::string, ReportGroup> jobs;
    bool lots = false;  // some job records name their lot
    std::map<HostPort, ReportGroup> ports;
    std::map<std::string, ReportGroup> hosts;  // "(no PC)" for records without a host
    std::vector<std::string> badLines;         // "FILE:LINE" of the first lines that did not parse
    std::uint64_t badLineCount = 0;            // all of them
    std::uint64_t records = 0;
};

// The heading of the job groups: "per job (name checksum)", with lots "per job and lot (name
// checksum lot NAME)".
std::string JobGroupsHeading(const ReportSummary& summary);

// Counts one record into the summary.
void AddRecord(ReportSummary& summary, const ReportRecord& record);

// Notes a line that is not a record; where is "FILE:LINE".
void AddUnparsable(ReportSummary& summary, const std::string& where);

// Adds one line of the file named source (line number lineNumber) to the summary. A line that
// is not a production record is named in badLines; an empty line is skipped.
void AddReportLine(ReportSummary& summary, std::string_view line, const std::string& source,
                   std::uint64_t lineNumber);

// "40.0%", or "-" for a group without chips.
std::string PassRate(const ReportGroup& group);

// The failed steps with their counts: "verify 2, program 1" with separator ", " and pairing " ".
std::string StepCounts(const ReportGroup& group, const char* separator, const char* pairing);

// The lines that did not parse as named: "a:3, a:9" and, past the first ten, "and 11748 more".
std::string BadLinesText(const ReportSummary& summary);

// The ports by the names the report shows: "port (device)", or "host: port (device)" when the
// records come from more than one PC.
std::map<std::string, ReportGroup> PortGroups(const ReportSummary& summary);

// The summary as text for people, or as comma-separated values with a header line.
std::string ReportText(const ReportSummary& summary);
std::string ReportCsv(const ReportSummary& summary);

}  // namespace koru
