#pragma once

// What the charts of the HTML report show, gathered record by record in one pass: results per
// hour, per port and per PC, chip failures per step, and the programming times of passed chips
// per port. Nothing is kept per record except a passed chip's time.

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "report/report_record.h"

namespace koru {

struct ResultCounts {
    std::array<std::uint64_t, kRecordResults> byResult{};

    std::uint64_t Chips() const;
    std::uint64_t Passed() const { return byResult[0]; }
    // Passed of all, 0..1; 0 without chips.
    double Yield() const;
};

// A port as the line knows it: the same port name on two PCs is two sockets.
using PortKey = std::pair<std::string, std::string>;  // host, port

struct LineReport {
    void Add(const ReportRecord& record);

    ResultCounts line;
    std::string first, last;                     // earliest and latest record time, as recorded
    std::map<std::int64_t, ResultCounts> hours;  // by hour of the records' local time
    std::uint64_t untimed = 0;                   // records whose time gives no hour
    // Runs where no programmer answered the probe: no chip, so kept out of every count above
    // except the period, as the table report keeps them.
    std::uint64_t noProgrammer = 0;
    std::map<PortKey, ResultCounts> ports;
    std::map<std::string, ResultCounts> hosts;
    std::map<std::string, std::uint64_t> chipFailuresByStep;
    std::map<PortKey, std::vector<std::uint32_t>> passedTimes;  // milliseconds
    std::map<std::string, std::set<std::string>> files;         // path -> SHA-256s
};

// The hour of a record time "2026-12-07T08:15:..." counted from 1970-01-01T00 of the same
// clock; nothing when the text does not start with a valid date and hour.
std::optional<std::int64_t> HourOfTime(std::string_view time);

// "2026-12-07 08:00" for an hour counted as above.
std::string HourText(std::int64_t hour);

}  // namespace koru
