#include "report/line_report.h"

#include <chrono>
#include <cstdio>
#include <limits>

namespace koru {
namespace {

constexpr int kHoursPerDay = 24;

// The number of digits at text[from..from+count), or nothing when one is not a digit.
std::optional<int> Digits(std::string_view text, std::size_t from, std::size_t count) {
    int value = 0;
    for (std::size_t i = from; i < from + count; ++i) {
        if (i >= text.size() || text[i] < '0' || text[i] > '9') {
            return std::nullopt;
        }
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

}  // namespace

std::uint64_t ResultCounts::Chips() const {
    std::uint64_t chips = 0;
    for (const std::uint64_t count : byResult) {
        chips += count;
    }
    return chips;
}

double ResultCounts::Yield() const {
    const std::uint64_t chips = Chips();
    return chips == 0 ? 0.0 : static_cast<double>(Passed()) / static_cast<double>(chips);
}

std::optional<std::int64_t> HourOfTime(std::string_view time) {
    // "YYYY-MM-DDTHH"
    const auto year = Digits(time, 0, 4);
    const auto month = Digits(time, 5, 2);
    const auto day = Digits(time, 8, 2);
    const auto hour = Digits(time, 11, 2);
    if (!year || !month || !day || !hour || time[4] != '-' || time[7] != '-' ||
        (time[10] != 'T' && time[10] != ' ') || *hour >= kHoursPerDay) {
        return std::nullopt;
    }
    const std::chrono::year_month_day date{std::chrono::year(*year),
                                           std::chrono::month(static_cast<unsigned>(*month)),
                                           std::chrono::day(static_cast<unsigned>(*day))};
    if (!date.ok()) {
        return std::nullopt;
    }
    const auto days = std::chrono::sys_days(date).time_since_epoch().count();
    return static_cast<std::int64_t>(days) * kHoursPerDay + *hour;
}

std::string HourText(std::int64_t hour) {
    const std::int64_t days = hour >= 0 ? hour / kHoursPerDay : (hour + 1) / kHoursPerDay - 1;
    const std::chrono::year_month_day date{std::chrono::sys_days(std::chrono::days(days))};
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02u-%02u %02d:00", static_cast<int>(date.year()),
                  static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                  static_cast<int>(hour - days * kHoursPerDay));
    return text;
}

void LineReport::Add(const ReportRecord& record) {
    const auto hour = HourOfTime(record.time);
    if (hour) {
        if (first.empty() || record.time < first) {
            first = record.time;
        }
        if (last.empty() || record.time > last) {
            last = record.time;
        }
    }
    if (record.hasFile) {
        files[record.filePath].insert(record.sha256);
    }
    if (record.touchedNoChip) {
        ++noProgrammer;
        return;
    }
    const auto result = static_cast<std::size_t>(record.result);
    ++line.byResult[result];
    const PortKey port{record.host, record.port};
    ++ports[port].byResult[result];
    ++hosts[record.host].byResult[result];
    if (record.result == RecordResult::ChipFailed) {
        ++chipFailuresByStep[record.failedStep];
    }
    if (record.passed && record.duration) {
        constexpr std::uint64_t kLongest = std::numeric_limits<std::uint32_t>::max();
        passedTimes[port].push_back(
            static_cast<std::uint32_t>(std::min(*record.duration, kLongest)));
    }
    if (hour) {
        ++hours[*hour].byResult[result];
    } else {
        ++untimed;
    }
}

}  // namespace koru
