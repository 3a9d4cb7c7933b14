#include "cli/report.h"

#include <cstdio>
#include <nlohmann/json.hpp>

namespace koru::cli {
namespace {

using nlohmann::json;

// The string at key, or fallback when it is missing or not a string.
std::string Text(const json& object, const char* key, const char* fallback = "") {
    const auto found = object.find(key);
    return found != object.end() && found->is_string() ? found->get<std::string>() : fallback;
}

void Count(ReportGroup& group, const json& record, const std::string& time) {
    const bool passed = record.value("passed", false);
    const auto outcome = record.find("outcome");
    const std::string kind =
        outcome != record.end() && outcome->is_object() ? Text(*outcome, "kind") : "";
    const auto steps = record.find("steps");
    // No step ran: the programmer did not answer the probe, and no chip was touched.
    const bool noChip = !passed && steps != record.end() && steps->is_array() && steps->empty();
    group.chips += noChip ? 0 : 1;
    if (noChip) {
        ++group.noProgrammer;
    } else if (passed) {
        ++group.passed;
    } else if (kind == "link-lost") {
        ++group.linkLost;
    } else if (kind == "no-answer") {
        ++group.noAnswer;
    } else {
        ++group.failed;
        ++group.failedByStep[Text(record, "failed_step", "unknown")];
    }
    if (!time.empty()) {
        if (group.first.empty() || time < group.first) {
            group.first = time;
        }
        if (group.last.empty() || time > group.last) {
            group.last = time;
        }
    }
}

std::string PassRate(const ReportGroup& group) {
    if (group.chips == 0) {
        return "-";
    }
    char text[16];
    std::snprintf(text, sizeof text, "%.1f%%",
                  100.0 * static_cast<double>(group.passed) / static_cast<double>(group.chips));
    return text;
}

std::string StepCounts(const ReportGroup& group, const char* separator, const char* pairing) {
    std::string text;
    for (const auto& [step, count] : group.failedByStep) {
        if (!text.empty()) {
            text += separator;
        }
        text += step + pairing + std::to_string(count);
    }
    return text;
}

// A CSV field: quoted when it holds a comma, a quote or a line end.
std::string CsvField(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) {
        return text;
    }
    std::string quoted = "\"";
    for (const char c : text) {
        quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    }
    return quoted + "\"";
}

void GroupText(std::string& out, const char* title,
               const std::map<std::string, ReportGroup>& groups) {
    out += title;
    out += "\n";
    for (const auto& [name, group] : groups) {
        out += "  " + name + "\n";
        out += "    chips " + std::to_string(group.chips) + ", passed " +
               std::to_string(group.passed) + ", failed " + std::to_string(group.failed) +
               ", link lost " + std::to_string(group.linkLost) + ", no answer " +
               std::to_string(group.noAnswer) + ", pass rate " + PassRate(group) + "\n";
        if (group.noProgrammer != 0) {
            out += "    runs without a programmer (no chip touched): " +
                   std::to_string(group.noProgrammer) + "\n";
        }
        if (!group.failedByStep.empty()) {
            out += "    failed by step: " + StepCounts(group, ", ", " ") + "\n";
        }
        out += "    first " + group.first + ", last " + group.last + "\n";
    }
}

}  // namespace

void AddReportLine(ReportSummary& summary, std::string_view line, const std::string& source,
                   std::uint64_t lineNumber) {
    if (line.find_first_not_of(" \t\r") == std::string_view::npos) {
        return;
    }
    const json record = json::parse(line, nullptr, false);
    if (record.is_discarded() || !record.is_object() || !record.contains("passed") ||
        !record["passed"].is_boolean()) {
        summary.badLines.push_back(source + ":" + std::to_string(lineNumber));
        return;
    }
    ++summary.records;
    const std::string time = Text(record, "time");
    const json file =
        record.contains("file") && record["file"].is_object() ? record["file"] : json();
    const std::string image = file.is_object()
                                  ? Text(file, "path", "(no file)") + " " + Text(file, "sha256")
                                  : std::string("(no file)");
    Count(summary.images[image], record, time);
    std::string port = Text(record, "port", "(no port)");
    const std::string device = Text(record, "device");
    if (!device.empty() && device != port) {
        port += " (" + device + ")";
    }
    Count(summary.ports[port], record, time);
}

std::string ReportText(const ReportSummary& summary) {
    std::string out;
    out += "records " + std::to_string(summary.records) + "\n";
    GroupText(out, "per code file (path sha256):", summary.images);
    GroupText(out, "per port:", summary.ports);
    if (!summary.badLines.empty()) {
        out += "lines that did not parse: " + std::to_string(summary.badLines.size()) + " (";
        for (std::size_t i = 0; i < summary.badLines.size(); ++i) {
            out += (i == 0 ? "" : ", ") + summary.badLines[i];
        }
        out += ")\n";
    }
    return out;
}

std::string ReportCsv(const ReportSummary& summary) {
    std::string out =
        "group,name,chips,passed,failed,link_lost,pass_rate,first,last,failed_by_step,no_answer,"
        "no_programmer\n";
    auto rows = [&](const char* group, const std::map<std::string, ReportGroup>& groups) {
        for (const auto& [name, entry] : groups) {
            out += std::string(group) + "," + CsvField(name) + "," + std::to_string(entry.chips) +
                   "," + std::to_string(entry.passed) + "," + std::to_string(entry.failed) + "," +
                   std::to_string(entry.linkLost) + "," + PassRate(entry) + "," +
                   CsvField(entry.first) + "," + CsvField(entry.last) + "," +
                   CsvField(StepCounts(entry, ";", ":")) + "," + std::to_string(entry.noAnswer) +
                   "," + std::to_string(entry.noProgrammer) + "\n";
        }
    };
    rows("image", summary.images);
    rows("port", summary.ports);
    for (const std::string& bad : summary.badLines) {
        out += "bad-line," + CsvField(bad) + ",,,,,,,,,,\n";
    }
    return out;
}

}  // namespace koru::cli
