#include "report/report_summary.h"

#include <cstdio>
#include <string>
#include <string_view>

namespace koru {
namespace {

constexpr std::size_t kJobDigitsShown = 8;  // as the job checksum is shown everywhere

void Count(ReportGroup& group, const ReportRecord& record) {
    // A run that touched no chip (no programmer answered the probe) is no chip.
    group.chips += record.touchedNoChip ? 0 : 1;
    if (record.touchedNoChip) {
        ++group.noProgrammer;
    } else if (record.passed) {
        ++group.passed;
    } else if (record.result == RecordResult::LinkLost) {
        ++group.linkLost;
    } else if (record.result == RecordResult::NoAnswer) {
        ++group.noAnswer;
    } else {
        ++group.failed;
        ++group.failedByStep[record.failedStep.empty() ? "unknown" : record.failedStep];
    }
    const std::string& time = record.time;
    if (!time.empty()) {
        if (group.first.empty() || time < group.first) {
            group.first = time;
        }
        if (group.last.empty() || time > group.last) {
            group.last = time;
        }
    }
}

// A CSV field: quoted when it holds a comma, a quote or a line end.
// A text cell as spreadsheets read it safely: one that would start a formula (=, +, -, @, or
// a tab or carriage return before one) gets a leading apostrophe, so a name from another PC's
// record is shown, never evaluated.
std::string CsvField(const std::string& cell) {
    const std::string text =
        !cell.empty() && std::string_view("=+-@\t\r").find(cell[0]) != std::string_view::npos
            ? "'" + cell
            : cell;
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

std::string BadLinesText(const ReportSummary& summary) {
    std::string text;
    for (const std::string& where : summary.badLines) {
        text += (text.empty() ? "" : ", ") + where;
    }
    if (summary.badLineCount > summary.badLines.size()) {
        text += " and " + std::to_string(summary.badLineCount - summary.badLines.size()) + " more";
    }
    return text;
}

std::string JobGroupsHeading(const ReportSummary& summary) {
    return summary.lots ? "per job and lot (name checksum lot NAME)" : "per job (name checksum)";
}

void AddRecord(ReportSummary& summary, const ReportRecord& record) {
    ++summary.records;
    const std::string image =
        record.hasFile ? record.filePath + " " + record.sha256 : std::string("(no file)");
    Count(summary.images[image], record);
    if (!record.jobChecksum.empty()) {
        std::string job = record.jobName + " " + record.jobChecksum.substr(0, kJobDigitsShown);
        if (!record.lot.empty()) {
            job += " lot " + record.lot;
            summary.lots = true;
        }
        Count(summary.jobs[job], record);
    }
    std::string port = record.port.empty() ? std::string("(no port)") : record.port;
    if (!record.device.empty() && record.device != record.port) {
        port += " (" + record.device + ")";
    }
    Count(summary.ports[{record.host, port}], record);
    Count(summary.hosts[record.host.empty() ? std::string("(no PC)") : record.host], record);
}

std::map<std::string, ReportGroup> PortGroups(const ReportSummary& summary) {
    const bool severalPcs = summary.hosts.size() > 1;
    std::map<std::string, ReportGroup> named;
    for (const auto& [key, group] : summary.ports) {
        const std::string host = key.first.empty() ? std::string("(no PC)") : key.first;
        named.emplace(severalPcs ? host + ": " + key.second : key.second, group);
    }
    return named;
}

void AddUnparsable(ReportSummary& summary, const std::string& where) {
    if (summary.badLines.size() < kNamedBadLines) {
        summary.badLines.push_back(where);
    }
    ++summary.badLineCount;
}

void AddReportLine(ReportSummary& summary, std::string_view line, const std::string& source,
                   std::uint64_t lineNumber) {
    if (line.find_first_not_of(" \t\r") == std::string_view::npos) {
        return;
    }
    if (const auto record = ParseRecordLine(line)) {
        AddRecord(summary, *record);
    } else {
        AddUnparsable(summary, source + ":" + std::to_string(lineNumber));
    }
}

std::string ReportText(const ReportSummary& summary) {
    std::string out;
    out += "records " + std::to_string(summary.records) + "\n";
    GroupText(out, "per code file (path sha256):", summary.images);
    GroupText(out, "per port:", PortGroups(summary));
    if (!summary.jobs.empty()) {
        GroupText(out, (JobGroupsHeading(summary) + ":").c_str(), summary.jobs);
    }
    if (summary.badLineCount != 0) {
        out += "lines that did not parse: " + std::to_string(summary.badLineCount) + " (" +
               BadLinesText(summary) + ")\n";
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
    rows("port", PortGroups(summary));
    rows("job", summary.jobs);
    for (const std::string& bad : summary.badLines) {
        out += "bad-line," + CsvField(bad) + ",,,,,,,,,,\n";
    }
    if (summary.badLineCount > summary.badLines.size()) {
        out += "bad-lines-not-named," +
               std::to_string(summary.badLineCount - summary.badLines.size()) + ",,,,,,,,,,\n";
    }
    return out;
}

}  // namespace koru
