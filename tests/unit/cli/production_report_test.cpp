// koru-cli's production side without a programmer: the report's summary of record lines, the
// files a report reads, and how a gang splits its ports and judges its result.

#include <gtest/gtest.h>

#include <filesystem>

#include <nlohmann/json.hpp>

#include "cli/gang.h"
#include "cli/gang_display.h"
#include "cli/options.h"
#include "cli/report.h"
#include "cli/report_command.h"

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

std::string NoProgrammerRecord(const char* port, const char* time) {
    nlohmann::json record = nlohmann::json::parse(Record(port, false, nullptr, "no-answer", time));
    record["steps"] = nlohmann::json::array();
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
        // The programmer fell silent during a step: a chip, but no verdict on it.
        Record("COM2", false, "program", "no-answer", "2026-12-07T08:30:00.000+01:00"),
        // No programmer answered the probe: no step ran, no chip was touched.
        NoProgrammerRecord("COM2", "2026-12-07T07:30:00.000+01:00"),
    };
    ReportSummary summary;
    std::uint64_t number = 0;
    for (const std::string& line : lines) {
        AddReportLine(summary, line, "day.jsonl", ++number);
    }
    EXPECT_EQ(summary.records, 7u);
    EXPECT_EQ(summary.badLines,
              (std::vector<std::string>{"day.jsonl:3", "day.jsonl:6", "day.jsonl:7"}));
    ASSERT_EQ(summary.images.size(), 1u);
    const ReportGroup& image = summary.images.at("/fw/a.hex ab12");
    EXPECT_EQ(image.chips, 6u);
    EXPECT_EQ(image.passed, 2u);
    EXPECT_EQ(image.failed, 2u);
    EXPECT_EQ(image.linkLost, 1u);
    EXPECT_EQ(image.noAnswer, 1u);
    EXPECT_EQ(image.noProgrammer, 1u);
    EXPECT_EQ(image.failedByStep, (std::map<std::string, std::uint64_t>{{"verify", 2}}));
    EXPECT_EQ(image.first, "2026-12-07T07:00:00.000+01:00");
    EXPECT_EQ(image.last, "2026-12-07T11:00:00.000+01:00");
    EXPECT_EQ(summary.ports.at("COM2 (/dev/COM2)").chips, 4u);

    const std::string text = ReportText(summary);
    EXPECT_NE(text.find("no answer 1, pass rate 33.3%"), std::string::npos) << text;
    EXPECT_NE(text.find("runs without a programmer (no chip touched): 1"), std::string::npos)
        << text;
    EXPECT_NE(text.find("failed by step: verify 2"), std::string::npos) << text;
    EXPECT_NE(text.find("day.jsonl:3, day.jsonl:6, day.jsonl:7"), std::string::npos) << text;
    const std::string csv = ReportCsv(summary);
    EXPECT_NE(csv.find("image,/fw/a.hex ab12,6,2,2,1,33.3%,2026-12-07T07:00:00.000+01:00,"
                       "2026-12-07T11:00:00.000+01:00,verify:2,1,1\n"),
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

}  // namespace
}  // namespace koru::cli
