#include "cli/report_command.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>

#include "cli/line_report.h"
#include "cli/report.h"
#include "cli/report_page.h"
#include "operations/production_log.h"
#include "platform/host_clock.h"
#include "platform/output_file.h"

namespace koru::cli {
namespace {

constexpr std::size_t kDayChars = 10;  // "2026-12-07"
constexpr char kRangeMark[] = "..";

// A day as a calendar date; nothing unless text is a valid "YYYY-MM-DD".
std::optional<std::chrono::year_month_day> ParseDay(const std::string& text) {
    if (text.size() != kDayChars || text[4] != '-' || text[7] != '-') {
        return std::nullopt;
    }
    for (std::size_t i : {0, 1, 2, 3, 5, 6, 8, 9}) {
        if (text[i] < '0' || text[i] > '9') {
            return std::nullopt;
        }
    }
    const std::chrono::year_month_day day{std::chrono::year(std::stoi(text.substr(0, 4))),
                                          std::chrono::month(std::stoul(text.substr(5, 2))),
                                          std::chrono::day(std::stoul(text.substr(8, 2)))};
    return day.ok() ? std::optional(day) : std::nullopt;
}

std::string DayText(std::chrono::year_month_day day) {
    char text[16];
    std::snprintf(text, sizeof text, "%04d-%02u-%02u", static_cast<int>(day.year()),
                  static_cast<unsigned>(day.month()), static_cast<unsigned>(day.day()));
    return text;
}

bool LooksLikeDay(const std::string& arg) {
    return !std::filesystem::exists(arg) && arg.size() >= kDayChars && arg[0] >= '0' &&
           arg[0] <= '9' && arg[4] == '-';
}

// Each record goes to the table's summary, for a page to the charts' counts, and with hosts to
// its PC's own summary.
class ReportSinks : public RecordSink {
  public:
    ReportSinks(ReportSummary& summary, LineReport* line,
                std::map<std::string, ReportSummary>* hosts)
        : summary_(summary), line_(line), hosts_(hosts) {}
    void Record(const ReportRecord& record) override {
        AddRecord(summary_, record);
        if (line_ != nullptr) {
            line_->Add(record);
        }
        if (hosts_ != nullptr) {
            AddRecord((*hosts_)[record.host], record);
        }
    }
    void Unparsable(const std::string& where) override { AddUnparsable(summary_, where); }

  private:
    ReportSummary& summary_;
    LineReport* line_;
    std::map<std::string, ReportSummary>* hosts_;
};

// Passes on the records of one lot only (and every line that is not a record).
class LotFilter : public RecordSink {
  public:
    LotFilter(RecordSink& next, std::string lot) : next_(next), lot_(std::move(lot)) {}
    void Record(const ReportRecord& record) override {
        if (record.lot == lot_) {
            next_.Record(record);
        }
    }
    void Unparsable(const std::string& where) override { next_.Unparsable(where); }

  private:
    RecordSink& next_;
    std::string lot_;
};

bool WritePage(const std::string& path, const std::string& page) {
    OutputFile file;
    if (!file.Create(path) || !file.Append(page) || !file.Close()) {
        std::fprintf(stderr, "koru-cli: cannot write the page %s: %s\n", path.c_str(),
                     file.ErrorText().c_str());
        return false;
    }
    return true;
}

}  // namespace

std::optional<std::vector<std::string>> ReportFiles(const std::vector<std::string>& args,
                                                    const std::string& folder, std::string& error) {
    std::vector<std::string> files;
    if (args.empty()) {
        files.push_back(ProductionDayFile(folder, LocalDateText(std::chrono::system_clock::now())));
        return files;
    }
    constexpr int kLongestRangeDays = 3660;  // ten years: a typing error, not a range
    for (const std::string& arg : args) {
        if (!LooksLikeDay(arg)) {
            files.push_back(arg);
            continue;
        }
        const std::size_t mark = arg.find(kRangeMark);
        const std::string firstText = arg.substr(0, mark);
        const std::string lastText = mark == std::string::npos ? arg : arg.substr(mark + 2);
        const auto first = ParseDay(firstText);
        const auto last = ParseDay(lastText);
        if (!first || !last) {
            error = "not a day or a day range (2026-12-01 or 2026-12-01..2026-12-07): " + arg;
            return std::nullopt;
        }
        const std::chrono::sys_days from(*first), to(*last);
        if (to < from || (to - from).count() > kLongestRangeDays) {
            error = "a day range runs from an earlier to a later day, ten years at most: " + arg;
            return std::nullopt;
        }
        for (std::chrono::sys_days day = from; day <= to; day += std::chrono::days(1)) {
            const std::string path = ProductionDayFile(folder, DayText(day));
            // In a range, days without production simply have no file.
            if (mark == std::string::npos || std::filesystem::exists(path)) {
                files.push_back(path);
            }
        }
    }
    return files;
}

bool WriteReportPage(RecordSource& source, const std::string& sources, const std::string& html,
                     std::uint64_t& passed, std::string& error) {
    ReportSummary summary;
    LineReport line;
    ReportSinks sinks(summary, &line, nullptr);
    const SourceResult read = source.ReadInto(sinks);
    if (!read.problems.empty()) {
        error = read.problems.front();
        return false;
    }
    passed = 0;
    for (const auto& [name, group] : summary.images) {
        passed += group.passed;
    }
    const PageFacts facts{LocalTimeText(std::chrono::system_clock::now()), sources};
    OutputFile file;
    if (!file.Create(html) || !file.Append(ReportPage(summary, line, facts)) || !file.Close()) {
        error = "cannot write " + html + ": " + file.ErrorText();
        return false;
    }
    return true;
}

int WriteReport(RecordSource& source, const std::string& sources, bool csv,
                const std::optional<std::string>& html, bool perHost,
                const std::optional<std::string>& lot) {
    // A page that cannot be written is refused before the records are read.
    if (html) {
        const OutputCheck check = CheckOutputPath(*html);
        if (!check.problem.empty()) {
            std::fprintf(stderr, "koru-cli: cannot write the page %s: %s\n", html->c_str(),
                         check.problem.c_str());
            return 3;
        }
    }
    ReportSummary summary;
    LineReport line;
    std::map<std::string, ReportSummary> hosts;
    ReportSinks sinks(summary, html ? &line : nullptr, perHost && !csv ? &hosts : nullptr);
    LotFilter lotOnly(sinks, lot.value_or(""));
    const SourceResult read = source.ReadInto(lot ? static_cast<RecordSink&>(lotOnly) : sinks);
    for (const std::string& problem : read.problems) {
        std::fprintf(stderr, "koru-cli: %s\n", problem.c_str());
    }
    if (read.opened == 0 && !read.problems.empty()) {
        if (html) {
            RemoveCreatedFile(*html);
        }
        return 3;
    }
    std::string text = csv ? ReportCsv(summary) : ReportText(summary);
    for (const auto& [host, hostSummary] : hosts) {
        text += "\nhost " + host + ":\n" + ReportText(hostSummary);
    }
    std::fwrite(text.data(), 1, text.size(), stdout);
    if (summary.badLineCount != 0) {
        std::fprintf(stderr, "koru-cli: %llu lines did not parse\n",
                     static_cast<unsigned long long>(summary.badLineCount));
    }
    if (html) {
        const PageFacts facts{LocalTimeText(std::chrono::system_clock::now()), sources};
        if (!WritePage(*html, ReportPage(summary, line, facts))) {
            return 3;
        }
    }
    return 0;
}

int RunReport(const std::vector<std::string>& args, bool csv,
              const std::optional<std::string>& html, const std::optional<std::string>& lot) {
    std::string error;
    const auto files = ReportFiles(args, DefaultProductionFolder(), error);
    if (!files) {
        std::fprintf(stderr, "koru-cli: %s\n", error.c_str());
        return 3;
    }
    std::string sources;
    for (const std::string& arg : args) {
        sources += (sources.empty() ? "" : " ") + arg;
    }
    if (sources.empty()) {
        sources = "today: " + (files->empty() ? std::string() : files->front());
    }
    if (lot) {
        sources += (sources.empty() ? "" : ", ") + std::string("lot ") + *lot;
    }
    RecordFiles source(*files);
    return WriteReport(source, sources, csv, html, false, lot);
}

}  // namespace koru::cli
