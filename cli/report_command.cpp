#include "cli/report_command.h"

#include <chrono>
#include <cstdio>

#include "operations/production_log.h"
#include "platform/host_clock.h"
#include "platform/output_file.h"
#include "report/report_files.h"
#include "report/report_page.h"
#include "report/report_reading.h"

namespace koru::cli {
namespace {

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
    const ReportReading reading =
        ReadReport(source, {.page = html.has_value(), .perHost = perHost && !csv, .lot = lot});
    const SourceResult& read = reading.read;
    const ReportSummary& summary = reading.summary;
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
    for (const auto& [host, hostSummary] : reading.hosts) {
        text += "\nhost " + host + ":\n" + ReportText(hostSummary);
    }
    std::fwrite(text.data(), 1, text.size(), stdout);
    if (summary.badLineCount != 0) {
        std::fprintf(stderr, "koru-cli: %llu lines did not parse\n",
                     static_cast<unsigned long long>(summary.badLineCount));
    }
    if (html) {
        const PageFacts facts{LocalTimeText(std::chrono::system_clock::now()), sources};
        if (!WritePage(*html, ReportPage(summary, reading.line, facts))) {
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
