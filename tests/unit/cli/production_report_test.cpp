// koru-cli's production side without a programmer: the report's summary of record lines, the
// files a report reads, and how a gang splits its ports and judges its result.

#include <gtest/gtest.h>

#include <filesystem>

#include <nlohmann/json.hpp>

#include "cli/gang.h"
#include "cli/gang_display.h"
#include "cli/options.h"
#include "cli/progress_meter.h"
#include "cli/report.h"
#include "cli/report_command.h"
#include "operations/progress_texts.h"

namespace koru::cli {
namespace {

std::string Record(const char* port, bool passed, const char* failedStep, const char* kind,
                   const char* time) {
    nlohmann::json record{{"time", time},
                          {"port", port},
                          {"device", std::string("/dev/") + port},
                          {"file", {{"path", "/fw/a.hex"}, {"sha256", "ab12"}}},
                          {"passed", passed},
                          {"failed_step", failedStep ? nlohmann::json(failedStep) : nullptr},
                          {"outcome", {{"kind", kind}}}};
    return record.dump();
}

TEST(ReportTest, SummarisesPerImageAndPortAndNamesBadLines) {
    const std::string lines[] = {
        Record("COM1", true, nullptr, "success", "2026-12-07T08:00:00.000+01:00"),
        Record("COM1", false, "verify", "chip-failed", "2026-12-07T09:00:00.000+01:00"),
        "{\"passed\": tru",  // cut short: not a record
        "",                  // empty lines are skipped, not counted
        Record("COM2", false, "program", "link-lost", "2026-12-07T07:00:00.000+01:00"),
        "[1, 2, 3]",              // JSON, but no record
        "{\"passed\": \"yes\"}",  // a record needs a true or false verdict
        Record("COM2", true, nullptr, "success", "2026-12-07T10:00:00.000+01:00"),
        Record("COM2", false, "verify", "chip-failed", "2026-12-07T11:00:00.000+01:00"),
    };
    ReportSummary summary;
    std::uint64_t number = 0;
    for (const std::string& line : lines) {
        AddReportLine(summary, line, "day.jsonl", ++number);
    }
    EXPECT_EQ(summary.records, 5u);
    EXPECT_EQ(summary.badLines,
              (std::vector<std::string>{"day.jsonl:3", "day.jsonl:6", "day.jsonl:7"}));
    ASSERT_EQ(summary.images.size(), 1u);
    const ReportGroup& image = summary.images.at("/fw/a.hex ab12");
    EXPECT_EQ(image.chips, 5u);
    EXPECT_EQ(image.passed, 2u);
    EXPECT_EQ(image.failed, 2u);
    EXPECT_EQ(image.linkLost, 1u);
    EXPECT_EQ(image.failedByStep, (std::map<std::string, std::uint64_t>{{"verify", 2}}));
    EXPECT_EQ(image.first, "2026-12-07T07:00:00.000+01:00");
    EXPECT_EQ(image.last, "2026-12-07T11:00:00.000+01:00");
    EXPECT_EQ(summary.ports.at("COM2 (/dev/COM2)").chips, 3u);

    const std::string text = ReportText(summary);
    EXPECT_NE(text.find("pass rate 40.0%"), std::string::npos) << text;
    EXPECT_NE(text.find("failed by step: verify 2"), std::string::npos) << text;
    EXPECT_NE(text.find("day.jsonl:3, day.jsonl:6, day.jsonl:7"), std::string::npos) << text;
    const std::string csv = ReportCsv(summary);
    EXPECT_NE(csv.find("image,/fw/a.hex ab12,5,2,2,1,40.0%,2026-12-07T07:00:00.000+01:00,"
                       "2026-12-07T11:00:00.000+01:00,verify:2\n"),
              std::string::npos)
        << csv;
    EXPECT_NE(csv.find("bad-line,day.jsonl:6,"), std::string::npos);
}

TEST(ReportTest, CsvQuotesFieldsThatNeedIt) {
    ReportSummary summary;
    nlohmann::json record{{"passed", true}, {"port", "a,\"b\""}};
    AddReportLine(summary, record.dump(), "f", 1);
    EXPECT_NE(ReportCsv(summary).find("port,\"a,\"\"b\"\"\",1,"), std::string::npos)
        << ReportCsv(summary);
}

TEST(ReportTest, DaysAndDayRangesNameDayFiles) {
    const std::string folder = "/no/such/folder";  // range days without a file are left out
    // The day file joins the folder with the system's own separator.
    const auto dayFile = [&](const char* name) {
        return (std::filesystem::path(folder) / name).string();
    };
    const struct {
        std::vector<std::string> args;
        std::optional<std::vector<std::string>> files;
    } cases[] = {
        {{"2026-12-07"}, std::vector<std::string>{dayFile("2026-12-07.jsonl")}},
        {{"2026-12-01..2026-12-03"}, std::vector<std::string>{}},
        {{"some.jsonl", "2026-02-28"},
         std::vector<std::string>{"some.jsonl", dayFile("2026-02-28.jsonl")}},
        {{"2026-02-30"}, std::nullopt},
        {{"2026-12-07..2026-12-01"}, std::nullopt},
        {{"2026-12-07..2046-12-01"}, std::nullopt},
        {{"2026-1x-07"}, std::nullopt},
    };
    for (const auto& entry : cases) {
        std::string error;
        EXPECT_EQ(ReportFiles(entry.args, folder, error), entry.files) << entry.args[0];
        EXPECT_EQ(error.empty(), entry.files.has_value()) << entry.args[0];
    }
}

TEST(GangTest, EachPortRunGetsItsOwnPortAndNoRepeat) {
    EXPECT_EQ(PortList("COM1,/dev/ttyUSB0,,COM3,"),
              (std::vector<std::string>{"COM1", "/dev/ttyUSB0", "COM3"}));
    const std::vector<std::string> args{"--port", "COM1,COM2", "--repeat", "--verify",
                                        "--log",  "/l.jsonl",  "program",  "fw.hex"};
    EXPECT_EQ(PortRunArguments(args, "COM2"),
              (std::vector<std::string>{"--port", "COM2", "--verify", "--log", "/l.jsonl",
                                        "program", "fw.hex"}));
}

TEST(GangTest, TheMostSeriousPortDecidesTheExitStatus) {
    const struct {
        std::vector<int> ports;
        int status;
    } cases[] = {
        {{0, 0, 0}, 0}, {{0, 1, 0}, 1},    {{1, 2, 0}, 2},
        {{3, 2, 1}, 3}, {{0, 128 + 9}, 2},  // killed: nothing known of its chip
    };
    for (const auto& entry : cases) {
        EXPECT_EQ(GangExitStatus(entry.ports), entry.status);
    }
}

TEST(GangTest, LiveLinesShowTheLastStatusWithoutSplittingCharacters) {
    EXPECT_EQ(LastLine("first\nsecond\n\n"), "second");
    EXPECT_EQ(LastLine("progress 00100\rprogress 00200"), "progress 00200");
    EXPECT_EQ(LastLine(""), "");
    EXPECT_EQ(Clip("编程成功", 7), "编程");  // three bytes a character: 7 keeps two
    EXPECT_EQ(Clip("abc", 7), "abc");
    EXPECT_EQ(ResultName(137), "ended by signal 9");
    const std::string table =
        RoundTable({{"COM1", 0, std::chrono::milliseconds(1500), "done"},
                    {"/dev/ttyUSB1", 2, std::chrono::milliseconds(80), "lost"}});
    EXPECT_NE(table.find("COM1          passed"), std::string::npos) << table;
    EXPECT_NE(table.find("/dev/ttyUSB1  no programmer or link lost  0.1 s"), std::string::npos)
        << table;
}

// The figures of a run's status texts over the range 0100..04FF (1024 bytes), text by text:
// where each step's bytes come from, when a step starts, and what is no progress at all.
TEST(ProgressTest, FiguresComeFromTheEngineTextsAndTheRange) {
    using std::string;
    const struct {
        string text;
        int ms;
        const char* shown;  // nullptr: no progress text
    } run[] = {
        {string(kBlankCheckText) + kOpeningTail, 0, "blank check  0/1024 B    0%  -- B/s  -- left"},
        {string(kBlankCheckText) + ",  地址: 00300", 500,
         "blank check  512/1024 B   50%  1024 B/s  1 s left"},
        {"芯片是空的, 在地址空间: 00100~~004FF", 600, nullptr},
        {kEraseMtpText, 1000, "erase  0.0 s"},
        {string(kProgramText) + kOpeningTail, 4000, "program  0/1024 B    0%  -- B/s  -- left"},
        {string(kProgramText) + ", 地址: 0110", 6000,
         "program  16/1024 B    1%  8 B/s  2 min 6 s left"},
        {string(kChecksumText) + ",  地址: 004FF", 7000,
         "checksum  1024/1024 B  100%  -- B/s  -- left"},
        {string(kVerifyText) + "00300", 8000, "verify  512/1024 B   50%  -- B/s  -- left"},
        {string(kVerifyText) + "00400", 9000, "verify  768/1024 B   75%  768 B/s  0 s left"},
        {string(kCopyChipText) + "00100", 9500, "read  0/1024 B    0%  -- B/s  -- left"},
        {string(kProgramText) + ", 地址: 01x0", 9600, nullptr},
        {"请稍候,得到编程内存检查和......", 9700, nullptr},
    };
    ProgressMeter meter;
    const auto zero = std::chrono::steady_clock::time_point();
    for (const auto& row : run) {
        SCOPED_TRACE(row.text);
        const auto figures =
            meter.Update(row.text, 0x0100, 0x04FF, zero + std::chrono::milliseconds(row.ms));
        ASSERT_EQ(figures.has_value(), row.shown != nullptr);
        if (figures) {
            EXPECT_EQ(ProgressText(*figures), row.shown);
        }
    }
    // Between texts the step's time goes on: the bytes stay, the rate and time left follow.
    const auto later = meter.Current(zero + std::chrono::milliseconds(10500));
    ASSERT_FALSE(later.has_value());  // the last text was no progress: no step runs
    meter.Update(kEraseMtpText, 0x0100, 0x04FF, zero);
    const auto erasing = meter.Current(zero + std::chrono::milliseconds(2500));
    ASSERT_TRUE(erasing.has_value());
    EXPECT_EQ(ProgressText(*erasing), "erase  2.5 s");
}

}  // namespace
}  // namespace koru::cli
