#include "report/report_files.h"

#include <chrono>
#include <cstdio>
#include <filesystem>

#include "operations/production_log.h"
#include "platform/host_clock.h"

namespace koru {
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

}  // namespace koru
