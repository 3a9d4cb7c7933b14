#include "report/report_charts.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <limits>
#include <vector>

#include "report/html_text.h"
#include "report/report_terms.h"
#include "report/svg_writer.h"

namespace koru {
namespace {

constexpr int kWidth = 1000;
constexpr int kHoursPerDay = 24;
constexpr std::size_t kLabelBytes = 36;  // a row's name; its tooltip has all of it
constexpr double kLabelX = 244;          // row names end here
constexpr double kRowBarX = 252;         // row bars start here
constexpr double kRowBarWidth = 560;
constexpr double kNarrowestTimeSpanMs = 100;  // of the time axis ...
constexpr double kNarrowestTimeShare = 0.1;   // ... and of the fastest chip's time
constexpr std::size_t kNamedPorts = 6;        // named in a chart's note
constexpr double kSliver = 2;                 // the narrowest bar
constexpr double kWidestBar = 90;             // a few bars stay bars, not walls
constexpr double kZoomedYield = 0.8;          // from this lowest yield up, the yield axis is zoomed
constexpr std::size_t kStepLabelBytes = 18;   // under a bar of the step chart

std::string Percent(double share) {
    char text[16];
    std::snprintf(text, sizeof text, "%.1f%%", 100.0 * share);
    return text;
}

// Milliseconds as seconds, with the decimals that tell apart two times resolutionMs apart.
std::string Seconds(double ms, double resolutionMs) {
    const int decimals = resolutionMs >= 100 ? 1 : resolutionMs >= 10 ? 2 : 3;
    char text[32];
    std::snprintf(text, sizeof text, "%.*f s", decimals, ms / 1000.0);
    return text;
}

std::int64_t FloorDiv(std::int64_t value, std::int64_t by) {
    const std::int64_t quotient = value / by;
    return quotient * by > value ? quotient - 1 : quotient;
}

// The hours between two labels of the time axis: a whole number of bins, on the hour, at
// midnight once they are a day or longer apart, and no more than about nine labels.
std::int64_t HoursPerLabel(std::int64_t perBin, std::int64_t bins) {
    constexpr std::int64_t kMostLabels = 9;
    static constexpr std::int64_t kSteps[] = {1,  2,   3,   4,   6,    12,   24,  48,
                                              96, 168, 336, 720, 1440, 2880, 8760};
    for (const std::int64_t hours : kSteps) {
        if (hours % perBin == 0 && bins * perBin / hours <= kMostLabels) {
            return hours;
        }
    }
    return perBin * ((bins + kMostLabels - 1) / kMostLabels);
}

// A step for an axis from 0 to top with about five lines: 1, 2 or 5 times a power of ten.
std::uint64_t NiceStep(std::uint64_t top) {
    const double raw = std::max(1.0, static_cast<double>(top) / 5.0);
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    for (const double factor : {1.0, 2.0, 5.0, 10.0}) {
        if (factor * power >= raw) {
            return static_cast<std::uint64_t>(factor * power);
        }
    }
    return static_cast<std::uint64_t>(10 * power);
}

// "编程成功 117 · 编程失败 3": the results a set of counts holds.
std::string ResultList(const ResultCounts& counts) {
    std::string text;
    for (std::size_t i = 0; i < kRecordResults; ++i) {
        if (counts.byResult[i] != 0) {
            text += (text.empty() ? "" : " · ") +
                    std::string(terms::ResultTerm(static_cast<RecordResult>(i))) + " " +
                    std::to_string(counts.byResult[i]);
        }
    }
    return text;
}

void Legend(SvgWriter& svg, double y) {
    constexpr double kItem = 180;
    for (std::size_t i = 0; i < kRecordResults; ++i) {
        const auto result = static_cast<RecordResult>(i);
        const double x = 56 + kItem * static_cast<double>(i);
        svg.Rect(x, y - 11, 12, 12, terms::ResultColour(result));
        svg.Text(x + 18, y, terms::ResultTerm(result));
    }
}

struct Row {
    std::string name;  // whole, for the tooltip
    ResultCounts counts;
};

std::string YieldChart(const char* chart, const char* label, std::vector<Row> rows,
                       const ResultCounts& line) {
    std::stable_sort(rows.begin(), rows.end(), [](const Row& a, const Row& b) {
        return a.counts.Yield() < b.counts.Yield();
    });
    const std::size_t hidden = rows.size() > kMostChartRows ? rows.size() - kMostChartRows : 0;
    rows.resize(rows.size() - hidden);

    constexpr double kTop = 30, kRow = 24, kBottom = 34;
    const double height = kTop + kRow * static_cast<double>(rows.size()) + kBottom;
    SvgWriter svg(chart, kWidth, static_cast<int>(height), label);
    if (rows.empty()) {
        svg.Text(kWidth / 2.0, kTop, "no records", Anchor::Middle, "note");
        return svg.Finish();
    }
    // Yields of a working line sit close to 100 %: there the axis starts below the lowest, in
    // tenths, so that the outlier shows; its first label says where it starts.
    double lowest = line.Yield();
    for (const Row& row : rows) {
        lowest = std::min(lowest, row.counts.Yield());
    }
    const double from = lowest >= kZoomedYield ? std::floor((lowest - 0.02) * 10.0) / 10.0 : 0.0;
    const double span = 1.0 - from;
    auto x = [&](double yield) { return kRowBarX + kRowBarWidth * (yield - from) / span; };
    const double bottom = kTop + kRow * static_cast<double>(rows.size());
    const double step = span <= 0.2 ? 0.05 : span <= 0.5 ? 0.1 : 0.25;
    for (double tick = from; tick <= 1.0 + 1e-9; tick += step) {
        svg.Line(x(tick), kTop - 4, x(tick), bottom, "grid");
        svg.Text(x(tick), bottom + 16, Percent(tick), Anchor::Middle);
    }
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const Row& row = rows[i];
        const double y = kTop + kRow * static_cast<double>(i);
        const ResultCounts& counts = row.counts;
        const std::string numbers =
            std::to_string(counts.Passed()) + "/" + std::to_string(counts.Chips());
        svg.Text(kLabelX, y + 16, ClipFront(row.name, kLabelBytes), Anchor::End);
        // A yield of nothing still gets a sliver, to rest the pointer on.
        svg.Bar(kRowBarX, y + 4, std::max(kSliver, x(counts.Yield()) - kRowBarX), kRow - 8,
                terms::kBarColour,
                row.name + ": yield " + Percent(counts.Yield()) + ", " + terms::kPassedCount + " " +
                    numbers + " (" + ResultList(counts) + ")");
        svg.Text(kRowBarX + kRowBarWidth + 10, y + 16, Percent(counts.Yield()) + "  " + numbers);
    }
    const double mark = x(line.Yield());
    svg.Line(mark, kTop - 8, mark, bottom, "mark");
    svg.Text(mark, kTop - 12, "line " + Percent(line.Yield()), Anchor::Middle, "mark-label");
    if (hidden != 0) {
        svg.Text(kLabelX, bottom + 30,
                 "and " + std::to_string(hidden) + " more with a better yield", Anchor::End,
                 "note");
    }
    return svg.Finish();
}

bool SeveralPcs(const LineReport& line) {
    return line.hosts.size() > 1;
}

}  // namespace

std::string PortLabel(const PortKey& port, bool severalPcs) {
    const std::string name = port.second.empty() ? "(no port)" : port.second;
    if (!severalPcs) {
        return name;
    }
    return (port.first.empty() ? std::string("(no PC)") : port.first) + ": " + name;
}

std::int64_t HoursPerBin(std::int64_t spanHours) {
    static constexpr std::int64_t kWidths[] = {1, 2, 3, 4, 6, 8, 12, 24, 48, 168};
    const auto bins = static_cast<std::int64_t>(kMostTimeBins);
    for (const std::int64_t width : kWidths) {
        if ((spanHours + width - 1) / width <= bins) {
            return width;
        }
    }
    // Whole days, enough of them.
    const std::int64_t days = (spanHours + bins * kHoursPerDay - 1) / (bins * kHoursPerDay);
    return days * kHoursPerDay;
}

std::string HourlyChart(const LineReport& line) {
    constexpr double kLeft = 56, kRight = 12, kTop = 24, kPlotHeight = 230;
    constexpr int kHeight = 324;
    SvgWriter svg("hourly", kWidth, kHeight, "chips per hour by result");
    const double bottom = kTop + kPlotHeight;
    Legend(svg, kHeight - 8);
    if (line.hours.empty()) {
        svg.Text(kWidth / 2.0, kTop + kPlotHeight / 2, "no records with a time", Anchor::Middle,
                 "note");
        return svg.Finish();
    }
    const std::int64_t firstHour = line.hours.begin()->first;
    const std::int64_t lastHour = line.hours.rbegin()->first;
    const std::int64_t perBin = HoursPerBin(lastHour - firstHour + 1);
    const std::int64_t start = FloorDiv(firstHour, perBin) * perBin;
    const auto binCount = static_cast<std::size_t>((lastHour - start) / perBin + 1);
    std::vector<ResultCounts> bins(binCount);
    std::uint64_t most = 0;
    for (const auto& [hour, counts] : line.hours) {
        ResultCounts& bin = bins[static_cast<std::size_t>((hour - start) / perBin)];
        for (std::size_t i = 0; i < kRecordResults; ++i) {
            bin.byResult[i] += counts.byResult[i];
        }
        most = std::max(most, bin.Chips());
    }
    const std::uint64_t step = NiceStep(most);
    const std::uint64_t top = (most + step - 1) / step * step;
    const double scale = kPlotHeight / static_cast<double>(std::max<std::uint64_t>(top, 1));
    for (std::uint64_t tick = 0; tick <= top; tick += step) {
        const double y = bottom - scale * static_cast<double>(tick);
        svg.Line(kLeft, y, kWidth - kRight, y, "grid");
        svg.Text(kLeft - 6, y + 4, std::to_string(tick), Anchor::End);
    }
    svg.Text(kWidth - kRight, kTop - 10,
             std::string(terms::kChips) +
                 (perBin == 1 ? " per hour" : " per " + std::to_string(perBin) + " hours"),
             Anchor::End);

    const double slot = (kWidth - kLeft - kRight) / static_cast<double>(binCount);
    const double barWidth = std::min(kWidestBar, slot >= 4 ? slot * 0.8 : slot);
    const std::int64_t labelHours = HoursPerLabel(perBin, static_cast<std::int64_t>(binCount));
    for (std::size_t i = 0; i < binCount; ++i) {
        const std::int64_t from = start + static_cast<std::int64_t>(i) * perBin;
        const double x = kLeft + slot * static_cast<double>(i);
        if (from - FloorDiv(from, labelHours) * labelHours == 0) {
            const std::string when = HourText(from).substr(5);  // "12-07 08:00"
            svg.Line(x + slot / 2, bottom, x + slot / 2, bottom + 4, "axis");
            svg.Text(x + slot / 2, bottom + 18,
                     labelHours % kHoursPerDay == 0 ? when.substr(0, 5) : when, Anchor::Middle);
        }
        const ResultCounts& counts = bins[i];
        if (counts.Chips() == 0) {
            continue;
        }
        const std::string to = HourText(from + perBin);
        svg.BeginStack(HourText(from) + " – " + (perBin < kHoursPerDay ? to.substr(11) : to) +
                       ": " + terms::kChips + " " + std::to_string(counts.Chips()) + " (" +
                       ResultList(counts) + ")");
        double y = bottom;
        for (std::size_t r = 0; r < kRecordResults; ++r) {
            if (counts.byResult[r] == 0) {
                continue;
            }
            const double h = scale * static_cast<double>(counts.byResult[r]);
            y -= h;
            svg.Segment(x + (slot - barWidth) / 2, y, barWidth, h,
                        terms::ResultColour(static_cast<RecordResult>(r)));
        }
        svg.EndStack();
    }
    svg.Line(kLeft, bottom, kWidth - kRight, bottom, "axis");
    return svg.Finish();
}

std::string PortYieldChart(const LineReport& line) {
    std::vector<Row> rows;
    for (const auto& [port, counts] : line.ports) {
        rows.push_back({PortLabel(port, SeveralPcs(line)), counts});
    }
    return YieldChart("yield-port", "yield per port", std::move(rows), line.line);
}

std::string PcYieldChart(const LineReport& line) {
    std::vector<Row> rows;
    for (const auto& [host, counts] : line.hosts) {
        rows.push_back({host.empty() ? "(no PC)" : host, counts});
    }
    return YieldChart("yield-pc", "yield per PC", std::move(rows), line.line);
}

std::string StepParetoChart(const LineReport& line) {
    constexpr double kLeft = 56, kRight = 56, kTop = 20, kPlotHeight = 220;
    constexpr int kHeight = 290;
    SvgWriter svg("pareto", kWidth, kHeight, "chip failures by step");
    std::vector<std::pair<std::string, std::uint64_t>> steps(line.chipFailuresByStep.begin(),
                                                             line.chipFailuresByStep.end());
    std::stable_sort(steps.begin(), steps.end(),
                     [](const auto& a, const auto& b) { return a.second > b.second; });
    if (steps.size() > kMostSteps) {
        std::uint64_t rest = 0;
        for (std::size_t i = kMostSteps - 1; i < steps.size(); ++i) {
            rest += steps[i].second;
        }
        const std::size_t others = steps.size() - (kMostSteps - 1);
        steps.resize(kMostSteps - 1);
        steps.emplace_back("other steps (" + std::to_string(others) + ")", rest);
    }
    const double bottom = kTop + kPlotHeight;
    if (steps.empty()) {
        svg.Text(kWidth / 2.0, kTop + kPlotHeight / 2, "no chip failures", Anchor::Middle, "note");
        return svg.Finish();
    }
    std::uint64_t total = 0;
    for (const auto& step : steps) {
        total += step.second;
    }
    // The gathered "other steps" can outgrow the bars before it.
    std::uint64_t most = 0;
    for (const auto& step : steps) {
        most = std::max(most, step.second);
    }
    const std::uint64_t tickStep = NiceStep(most);
    const std::uint64_t top = (most + tickStep - 1) / tickStep * tickStep;
    const double scale = kPlotHeight / static_cast<double>(top);
    for (std::uint64_t tick = 0; tick <= top; tick += tickStep) {
        const double y = bottom - scale * static_cast<double>(tick);
        svg.Line(kLeft, y, kWidth - kRight, y, "grid");
        svg.Text(kLeft - 6, y + 4, std::to_string(tick), Anchor::End);
    }
    for (int percent = 0; percent <= 100; percent += 25) {
        svg.Text(kWidth - kRight + 6, bottom - kPlotHeight * percent / 100.0 + 4,
                 std::to_string(percent) + "%");
    }
    const double eighty = bottom - kPlotHeight * 0.8;
    svg.Line(kLeft, eighty, kWidth - kRight, eighty, "mark");

    const double slot = (kWidth - kLeft - kRight) / static_cast<double>(steps.size());
    const double barWidth = std::min(kWidestBar, slot * 0.6);
    std::uint64_t cumulative = 0;
    std::vector<std::pair<double, double>> points;
    std::vector<double> shares;  // cumulative, at each point
    for (std::size_t i = 0; i < steps.size(); ++i) {
        const auto& [step, count] = steps[i];
        cumulative += count;
        const double share = static_cast<double>(count) / static_cast<double>(total);
        const double upTo = static_cast<double>(cumulative) / static_cast<double>(total);
        const double centre = kLeft + slot * (static_cast<double>(i) + 0.5);
        const double h = scale * static_cast<double>(count);
        const std::string term = terms::StepTerm(step);
        const std::string name = term == step ? term : term + " (" + step + ")";
        svg.Bar(centre - barWidth / 2, bottom - h, barWidth, h,
                terms::ResultColour(RecordResult::ChipFailed),
                name + ": " + std::to_string(count) + " chip failures, " + Percent(share) +
                    "; cumulative " + Percent(upTo));
        svg.Text(centre, bottom + 18, Clip(term, kStepLabelBytes), Anchor::Middle);
        points.emplace_back(centre, bottom - kPlotHeight * upTo);
        shares.push_back(upTo);
    }
    svg.Polyline(points, "cumulative");
    for (std::size_t i = 0; i < points.size(); ++i) {
        svg.Circle(points[i].first, points[i].second, 3.5, "cumulative",
                   "cumulative " + Percent(shares[i]));
    }
    svg.Line(kLeft, bottom, kWidth - kRight, bottom, "axis");
    return svg.Finish();
}

std::string TimesChart(const LineReport& line) {
    struct PortTimes {
        std::string name;
        std::vector<std::uint32_t> sorted;
        std::uint32_t median = 0;
    };
    // One axis for every port, from the fastest chip to the slowest port's 99th percentile:
    // a single chip that hung for a minute must not squeeze everyone else into one bin; it
    // joins the last.
    std::vector<PortTimes> ports;
    double low = std::numeric_limits<double>::max(), high = 0;
    for (const auto& [port, times] : line.passedTimes) {
        PortTimes entry{PortLabel(port, SeveralPcs(line)), times, 0};
        std::sort(entry.sorted.begin(), entry.sorted.end());
        entry.median = entry.sorted[entry.sorted.size() / 2];
        low = std::min<double>(low, entry.sorted.front());
        high = std::max<double>(high, entry.sorted[(entry.sorted.size() - 1) * 99 / 100]);
        ports.push_back(std::move(entry));
    }
    std::stable_sort(ports.begin(), ports.end(),
                     [](const PortTimes& a, const PortTimes& b) { return a.median > b.median; });
    const std::size_t hidden = ports.size() > kMostChartRows ? ports.size() - kMostChartRows : 0;
    ports.resize(ports.size() - hidden);

    // A port whose every chip failed has no row: the chart says so rather than lose it.
    std::string without;
    std::size_t withoutCount = 0;
    for (const auto& entry : line.ports) {
        if (line.passedTimes.count(entry.first) == 0 && withoutCount++ < kNamedPorts) {
            without += (without.empty() ? "" : ", ") + PortLabel(entry.first, SeveralPcs(line));
        }
    }
    if (withoutCount > kNamedPorts) {
        without += " and " + std::to_string(withoutCount - kNamedPorts) + " more";
    }

    constexpr double kTop = 10, kRow = 44, kBarRoom = 36, kBottom = 40, kNote = 22;
    const double bottom = kTop + kRow * static_cast<double>(ports.size());
    SvgWriter svg("times", kWidth,
                  static_cast<int>(bottom + kBottom + (without.empty() ? 0 : kNote)),
                  "programming time of passed chips per port");
    if (!without.empty()) {
        svg.Text(kRowBarX, bottom + kBottom + 12, "no passed chip with a time: " + without,
                 Anchor::Start, "note");
    }
    if (ports.empty()) {
        svg.Text(kWidth / 2.0, kTop + 16, "no passed chips with a recorded time", Anchor::Middle,
                 "note");
        return svg.Finish();
    }
    // Chips that all take about as long stay together in the first bins rather than spread
    // over an axis a few milliseconds wide.
    const double span = std::max({high - low, kNarrowestTimeSpanMs, low * kNarrowestTimeShare});
    const double binMs = span / static_cast<double>(kTimeBins);
    const double slot = kRowBarWidth / static_cast<double>(kTimeBins);
    auto x = [&](double ms) {
        return kRowBarX + kRowBarWidth * std::clamp((ms - low) / span, 0.0, 1.0);
    };
    for (std::size_t tick = 0; tick <= kTimeBins; tick += kTimeBins / 4) {
        const double ms = low + binMs * static_cast<double>(tick);
        svg.Line(x(ms), kTop, x(ms), bottom, "grid");
        svg.Text(x(ms), bottom + 16, Seconds(ms, binMs * kTimeBins / 4), Anchor::Middle);
    }
    for (std::size_t p = 0; p < ports.size(); ++p) {
        const PortTimes& port = ports[p];
        const double base = kTop + kRow * static_cast<double>(p + 1) - 4;
        std::array<std::uint64_t, kTimeBins> bins{};
        for (const std::uint32_t ms : port.sorted) {
            const auto bin = static_cast<std::size_t>((ms - low) / binMs);
            ++bins[std::min(bin, kTimeBins - 1)];
        }
        const std::uint64_t most = *std::max_element(bins.begin(), bins.end());
        svg.Text(kLabelX, base - 12, ClipFront(port.name, kLabelBytes), Anchor::End);
        for (std::size_t b = 0; b < kTimeBins; ++b) {
            if (bins[b] == 0) {
                continue;
            }
            const double from = low + binMs * static_cast<double>(b);
            const std::string range =
                b + 1 == kTimeBins ? "from " + Seconds(from, binMs)
                                   : Seconds(from, binMs) + " – " + Seconds(from + binMs, binMs);
            const double h = kBarRoom * static_cast<double>(bins[b]) / static_cast<double>(most);
            svg.Bar(kRowBarX + slot * static_cast<double>(b) + 1, base - h, slot - 2, h,
                    terms::kBarColour,
                    port.name + ": " + range + ": " + std::to_string(bins[b]) + " of " +
                        std::to_string(port.sorted.size()) + " chips");
        }
        svg.Line(kRowBarX, base, kRowBarX + kRowBarWidth, base, "axis");
        svg.Line(x(port.median), base - kBarRoom - 2, x(port.median), base + 2, "mark");
        svg.Text(kRowBarX + kRowBarWidth + 10, base - 12,
                 "median " + Seconds(port.median, binMs) + " · " +
                     std::to_string(port.sorted.size()) + " chips");
    }
    if (hidden != 0) {
        svg.Text(kLabelX, bottom + 32, "and " + std::to_string(hidden) + " more ports", Anchor::End,
                 "note");
    }
    return svg.Finish();
}

}  // namespace koru
