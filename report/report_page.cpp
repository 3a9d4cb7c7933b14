#include "report/report_page.h"

#include <chrono>
#include <cstdio>

#include "platform/host_clock.h"
#include "platform/output_file.h"
#include "report/html_text.h"
#include "report/report_charts.h"
#include "report/report_reading.h"
#include "report/report_terms.h"

namespace koru {
namespace {

constexpr std::size_t kListed = 20;    // code files, PCs and ports named in the header
constexpr std::size_t kShortSha = 12;  // hex digits of a SHA-256 that tell files apart
constexpr char kStyle[] = R"(<style>
body { font-family: "Noto Sans CJK SC", "WenQuanYi Micro Hei", "Microsoft YaHei", sans-serif;
       margin: 24px auto; max-width: 1040px; padding: 0 16px; color: #1a1a1a; background: #fff; }
h1 { font-size: 24px; margin-bottom: 4px; }
h2 { font-size: 18px; margin: 28px 0 6px; border-bottom: 1px solid #ccc; padding-bottom: 4px; }
.sub, .note { color: #555; font-size: 13px; }
table { border-collapse: collapse; font-size: 13px; margin: 6px 0; }
th, td { border: 1px solid #ccc; padding: 3px 8px; text-align: left; vertical-align: top; }
td.n { text-align: right; font-variant-numeric: tabular-nums; }
td.t { white-space: nowrap; font-size: 12px; }
th { white-space: nowrap; }
table.facts th { background: #f2f2f2; }
code { font-size: 12px; word-break: break-all; }
svg { max-width: 100%; height: auto; display: block; font-size: 12px; }
svg text { fill: #1a1a1a; }
svg .grid { stroke: #e3e3e3; }
svg .axis { stroke: #555; }
svg .mark { stroke: #000; stroke-dasharray: 5 3; stroke-width: 1.5; }
svg .mark-label { font-weight: bold; }
svg .note { fill: #555; }
svg .cumulative { stroke: #000; fill: none; stroke-width: 1.5; }
svg circle.cumulative { fill: #000; }
svg .bar:hover, svg .bar:hover rect { opacity: 0.75; }
</style>
)";

std::string Percent(std::uint64_t part, std::uint64_t whole) {
    if (whole == 0) {
        return "-";
    }
    char text[16];
    std::snprintf(text, sizeof text, "%.1f%%",
                  100.0 * static_cast<double>(part) / static_cast<double>(whole));
    return text;
}

// Up to kListed names escaped and joined, then how many more.
template <typename Names>
std::string NameList(const Names& names) {
    std::string text;
    std::size_t shown = 0;
    for (const auto& name : names) {
        if (shown == kListed) {
            break;
        }
        text += (shown++ == 0 ? "" : ", ") + HtmlEscape(name.empty() ? "(none)" : name);
    }
    if (names.size() > shown) {
        text += " and " + std::to_string(names.size() - shown) + " more";
    }
    return text;
}

void FactRow(std::string& out, const std::string& head, const std::string& escapedValue) {
    out += "<tr><th>" + HtmlEscape(head) + "</th><td>" + escapedValue + "</td></tr>\n";
}

void Header(std::string& out, const ReportSummary& summary, const LineReport& line,
            const PageFacts& facts) {
    out += "<h1>" + std::string(terms::kProductionRecord) + "</h1>\n<p class=\"sub\">" +
           HtmlEscape(facts.sources) + " · made " + HtmlEscape(facts.made) + "</p>\n";
    out += "<table class=\"facts\">\n";
    FactRow(out, "period", line.first.empty() ? "-" : HtmlEscape(line.first + " – " + line.last));
    std::vector<std::string> hosts;
    for (const auto& entry : line.hosts) {
        hosts.push_back(entry.first);
    }
    FactRow(out, std::string(terms::kPc) + " (" + std::to_string(hosts.size()) + ")",
            NameList(hosts));
    std::vector<std::string> ports;
    for (const auto& entry : line.ports) {
        ports.push_back(PortLabel(entry.first, hosts.size() > 1));
    }
    FactRow(out, std::string(terms::kPort) + " (" + std::to_string(ports.size()) + ")",
            NameList(ports));
    std::string files;
    std::size_t shown = 0, all = 0;
    for (const auto& [path, shas] : line.files) {
        for (const std::string& sha : shas) {
            if (all++ < kListed) {
                files += (shown++ == 0 ? "" : "<br>") + std::string("<code>") + HtmlEscape(path) +
                         "</code> " + HtmlEscape(sha.substr(0, kShortSha));
            }
        }
    }
    if (all > shown) {
        files += "<br>and " + std::to_string(all - shown) + " more";
    }
    FactRow(out, std::string(terms::kCodeFile) + " (" + std::to_string(all) + ")",
            files.empty() ? "-" : files);
    const ResultCounts& counts = line.line;
    FactRow(out, terms::kChips, std::to_string(counts.Chips()));
    FactRow(out, terms::kPassedCount, std::to_string(counts.Passed()));
    FactRow(out, "yield", Percent(counts.Passed(), counts.Chips()));
    std::string results;
    for (std::size_t i = 0; i < kRecordResults; ++i) {
        results += (i == 0 ? "" : " · ") +
                   std::string(terms::ResultTerm(static_cast<RecordResult>(i))) + " " +
                   std::to_string(counts.byResult[i]);
    }
    FactRow(out, "results", results);
    if (line.noProgrammer != 0) {
        FactRow(out, "runs without a programmer (no chip touched)",
                std::to_string(line.noProgrammer));
    }
    if (summary.badLineCount != 0) {
        FactRow(out, "lines that did not parse", std::to_string(summary.badLineCount));
    }
    out += "</table>\n";
}

void Chart(std::string& out, const char* title, const std::string& note, const std::string& svg) {
    out += "<h2>" + HtmlEscape(title) + "</h2>\n";
    if (!note.empty()) {
        out += "<p class=\"note\">" + HtmlEscape(note) + "</p>\n";
    }
    out += svg;
}

void GroupTable(std::string& out, const char* title,
                const std::map<std::string, ReportGroup>& groups) {
    out += "<h2>" + HtmlEscape(title) + "</h2>\n<table>\n<tr><th>name</th><th>" + terms::kChips +
           "</th><th>" + terms::kPassedCount + "</th><th>" + terms::kFailedCount + "</th><th>" +
           terms::ResultTerm(RecordResult::LinkLost) +
           "</th><th>yield</th><th>failed by step</th><th>first</th><th>last</th></tr>\n";
    for (const auto& [name, group] : groups) {
        std::string steps;
        for (const auto& [step, count] : group.failedByStep) {
            steps += (steps.empty() ? "" : ", ") + HtmlEscape(terms::StepTerm(step)) + " " +
                     std::to_string(count);
        }
        out +=
            "<tr><td><code>" + HtmlEscape(name) + "</code></td><td class=\"n\">" +
            std::to_string(group.chips) + "</td><td class=\"n\">" + std::to_string(group.passed) +
            "</td><td class=\"n\">" + std::to_string(group.failed) + "</td><td class=\"n\">" +
            std::to_string(group.linkLost) + "</td><td class=\"n\">" + HtmlEscape(PassRate(group)) +
            "</td><td>" + steps + "</td><td class=\"t\">" + HtmlEscape(group.first) +
            "</td><td class=\"t\">" + HtmlEscape(group.last) + "</td></tr>\n";
    }
    out += "</table>\n";
}

}  // namespace

std::string ReportPage(const ReportSummary& summary, const LineReport& line,
                       const PageFacts& facts) {
    std::string out =
        "<!DOCTYPE html>\n<html lang=\"zh-CN\">\n<head>\n<meta charset=\"utf-8\">\n"
        "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n<title>" +
        std::string(terms::kProductionRecord) + " " + HtmlEscape(line.first.substr(0, 10)) +
        (line.last.substr(0, 10) != line.first.substr(0, 10)
             ? " – " + HtmlEscape(line.last.substr(0, 10))
             : std::string()) +
        "</title>\n" + kStyle + "</head>\n<body>\n";
    Header(out, summary, line, facts);

    Chart(out, "chips per hour, by result",
          line.untimed == 0
              ? std::string()
              : std::to_string(line.untimed) + " records without a time are left out.",
          HourlyChart(line));
    Chart(out, "yield per port", "Worst first; the dashed line is the whole line's yield.",
          PortYieldChart(line));
    Chart(out, "yield per PC", "Worst first; the dashed line is the whole line's yield.",
          PcYieldChart(line));
    Chart(out, "chip failures by step",
          std::string("Runs that ended ") + terms::ResultTerm(RecordResult::ChipFailed) +
              " (supply faults included), by the step that failed, most first; the line is "
              "the cumulative share, the dashed line 80 %.",
          StepParetoChart(line));
    Chart(out, "programming time per port",
          "Passed chips only, slowest median first; each row's bars are scaled to its "
          "fullest bin; the dashed mark is the median.",
          TimesChart(line));

    GroupTable(out, "per code file (path sha256)", summary.images);
    GroupTable(out, "per port", PortGroups(summary));
    if (!summary.jobs.empty()) {
        GroupTable(out, JobGroupsHeading(summary).c_str(), summary.jobs);
    }
    if (summary.hosts.size() > 1) {
        GroupTable(out, "per PC", summary.hosts);
    }
    if (summary.badLineCount != 0) {
        out += "<h2>lines that did not parse: " + std::to_string(summary.badLineCount) +
               "</h2>\n<p><code>" + HtmlEscape(BadLinesText(summary)) + "</code></p>\n";
    }
    out += "</body>\n</html>\n";
    return out;
}

bool WriteReportPage(RecordSource& source, const std::string& sources, const std::string& html,
                     std::uint64_t& passed, std::string& error) {
    ReportWants wants;
    wants.page = true;
    const ReportReading reading = ReadReport(source, wants);
    if (!reading.read.problems.empty()) {
        error = reading.read.problems.front();
        return false;
    }
    passed = 0;
    for (const auto& [name, group] : reading.summary.images) {
        passed += group.passed;
    }
    const PageFacts facts{LocalTimeText(std::chrono::system_clock::now()), sources};
    OutputFile file;
    if (!file.Create(html) || !file.Append(ReportPage(reading.summary, reading.line, facts)) ||
        !file.Close()) {
        error = "cannot write " + html + ": " + file.ErrorText();
        return false;
    }
    return true;
}

}  // namespace koru
