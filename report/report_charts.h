#pragma once

// The charts of the HTML report, each an inline SVG drawn from the line's counts. The number of
// elements depends on the hours, ports and steps shown, never on the number of records: the
// time axis is binned, long lists are cut to their worst rows.

#include <string>

#include "report/line_report.h"

namespace koru {

// The most bars on the time axis: a month of hours. A longer period gets wider bins.
inline constexpr std::size_t kMostTimeBins = 744;
// The most rows of a per-port or per-PC chart, and the most bars of the step chart.
inline constexpr std::size_t kMostChartRows = 40;
inline constexpr std::size_t kMostSteps = 12;
// The bins of a port's programming-time histogram.
inline constexpr std::size_t kTimeBins = 24;

// The hours one bin of the time axis spans for a period of spanHours.
std::int64_t HoursPerBin(std::int64_t spanHours);

// Chips per hour (or per bin), each bar stacked by result. data-chart="hourly".
std::string HourlyChart(const LineReport& line);

// Yield per port (data-chart="yield-port") and per PC (data-chart="yield-pc"): one bar per
// row, worst first, with the line's yield marked.
std::string PortYieldChart(const LineReport& line);
std::string PcYieldChart(const LineReport& line);

// Chip failures per step, most first, with the cumulative share. data-chart="pareto".
std::string StepParetoChart(const LineReport& line);

// Programming times of passed chips, one histogram row per port, slowest median first, on one
// time axis. data-chart="times".
std::string TimesChart(const LineReport& line);

// The name a port goes by in the charts: with its PC when the records come from several.
std::string PortLabel(const PortKey& port, bool severalPcs);

}  // namespace koru
