// koru-cli's production side without a programmer: the report's summary of record lines, its
// HTML page, the files a report reads, and how a gang splits its ports and judges its result.

#include <gtest/gtest.h>

#include <filesystem>

#include <nlohmann/json.hpp>

#include "cli/gang.h"
#include "cli/gang_display.h"
#include "cli/options.h"
#include "cli/report_command.h"
#include "core/shared_state.h"
#include "operations/progress_meter.h"
#include "operations/progress_texts.h"
#include "report/html_text.h"
#include "report/line_report.h"
#include "report/report_charts.h"
#include "report/report_files.h"
#include "report/report_page.h"
#include "report/report_summary.h"

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
    EXPECT_EQ(PortGroups(summary).at("COM2 (/dev/COM2)").chips, 4u);

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

    // The page counts as the table does: the run without a programmer is no chip, stays out
    // of the yields and the hours, and is counted apart in the header.
    LineReport line;
    for (const std::string& text : lines) {
        if (const auto record = ParseRecordLine(text)) {
            line.Add(*record);
        }
    }
    EXPECT_EQ(line.line.Chips(), image.chips);
    EXPECT_EQ(line.noProgrammer, 1u);
    EXPECT_EQ(line.ports.at({"", "COM2"}).Chips(), 4u);
    EXPECT_EQ(line.hours.count(*HourOfTime("2026-12-07T07:30:00.000+01:00")), 1u);
    EXPECT_EQ(line.hours.at(*HourOfTime("2026-12-07T07:30:00.000+01:00")).Chips(), 1u);
    EXPECT_EQ(line.first, image.first);
    const std::string page = ReportPage(summary, line, {"now", "day.jsonl"});
    EXPECT_NE(page.find("<th>runs without a programmer (no chip touched)</th><td>1</td>"),
              std::string::npos);
    EXPECT_NE(page.find("<th>yield</th><td>33.3%</td>"), std::string::npos);
}

// Quoted where a comma or quote needs it; a cell that a spreadsheet would take for a formula
// (another PC's port name, say) starts with an apostrophe.
TEST(ReportTest, CsvQuotesFieldsThatNeedItAndNeverLetsACellBeAFormula) {
    const struct {
        const char* port;
        const char* cell;
    } cases[] = {
        {"a,\"b\"", "\"a,\"\"b\"\"\""},
        {"=HYPERLINK(\"x\")", "\"'=HYPERLINK(\"\"x\"\")\""},
        {"+1+1", "'+1+1"},
        {"-2", "'-2"},
        {"@SUM(A1)", "'@SUM(A1)"},
        {"\t=1", "'\t=1"},
        {"COM-1", "COM-1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.port);
        ReportSummary summary;
        nlohmann::json record{{"passed", true}, {"port", c.port}};
        AddReportLine(summary, record.dump(), "f", 1);
        EXPECT_NE(ReportCsv(summary).find(std::string("\nport,") + c.cell + ",1,"),
                  std::string::npos)
            << ReportCsv(summary);
    }
}

// Job runs are summed per job, by name and the first digits of the checksum: two versions of a
// job under one name stay apart, and records without a job add no job section.
TEST(ReportTest, JobRunsAreGroupedPerJobAndChecksum) {
    const auto jobRecord = [](bool passed, const char* checksum) {
        nlohmann::json record = nlohmann::json::parse(
            Record("COM1", passed, passed ? nullptr : "verify", passed ? "success" : "chip-failed",
                   "2026-12-07T08:00:00.000+01:00"));
        record["job"] = {{"name", "line A"}, {"checksum", checksum}};
        return record.dump();
    };
    const std::string first(64, 'a');
    const std::string second = "bbbbbbbb" + std::string(56, '0');
    ReportSummary summary;
    AddReportLine(summary, Record("COM1", true, nullptr, "success", ""), "f", 1);
    EXPECT_EQ(ReportText(summary).find("per job"), std::string::npos);
    EXPECT_EQ(ReportCsv(summary).find("\njob,"), std::string::npos);
    EXPECT_EQ(ReportPage(summary, LineReport(), {"now", "f"}).find("per job"), std::string::npos);
    AddReportLine(summary, jobRecord(true, first.c_str()), "f", 2);
    AddReportLine(summary, jobRecord(false, first.c_str()), "f", 3);
    AddReportLine(summary, jobRecord(true, second.c_str()), "f", 4);
    AddReportLine(summary, R"({"passed": true, "job": {"name": 5, "checksum": ["x"]}})", "f", 5);

    ASSERT_EQ(summary.jobs.size(), 2u);
    EXPECT_EQ(summary.jobs["line A aaaaaaaa"].chips, 2u);
    EXPECT_EQ(summary.jobs["line A aaaaaaaa"].passed, 1u);
    EXPECT_EQ(summary.jobs["line A bbbbbbbb"].passed, 1u);
    const std::string text = ReportText(summary);
    EXPECT_NE(
        text.find("per job (name checksum):\n  line A aaaaaaaa\n    chips 2, passed 1, failed 1"),
        std::string::npos)
        << text;
    EXPECT_NE(ReportCsv(summary).find("\njob,line A bbbbbbbb,1,1,0,"), std::string::npos);
    const std::string page = ReportPage(summary, LineReport(), {"now", "f"});
    EXPECT_NE(page.find("<h2>per job (name checksum)</h2>"), std::string::npos);
    EXPECT_NE(page.find("<tr><td><code>line A aaaaaaaa</code>"), std::string::npos);
}

// A job's lots are summed apart, beside the job's runs without a lot; a lot given in another type
// reads as none.
TEST(ReportTest, JobRunsWithALotAreGroupedPerJobAndLot) {
    const auto lotRecord = [](bool passed, const nlohmann::json& lot) {
        nlohmann::json record = nlohmann::json::parse(
            Record("COM1", passed, passed ? nullptr : "verify", passed ? "success" : "chip-failed",
                   "2026-12-07T08:00:00.000+01:00"));
        record["job"] = {{"name", "line A"}, {"checksum", std::string(64, 'a')}};
        if (!lot.is_null()) {
            record["lot"] = lot;
        }
        return record.dump();
    };
    ReportSummary summary;
    AddReportLine(summary, lotRecord(true, "W49 A"), "f", 1);
    AddReportLine(summary, lotRecord(false, "W49 A"), "f", 2);
    AddReportLine(summary, lotRecord(true, "W50"), "f", 3);
    AddReportLine(summary, lotRecord(true, nullptr), "f", 4);
    AddReportLine(summary, lotRecord(true, 7), "f", 5);
    ASSERT_EQ(summary.jobs.size(), 3u);
    EXPECT_EQ(summary.jobs["line A aaaaaaaa lot W49 A"].chips, 2u);
    EXPECT_EQ(summary.jobs["line A aaaaaaaa lot W49 A"].passed, 1u);
    EXPECT_EQ(summary.jobs["line A aaaaaaaa lot W50"].passed, 1u);
    EXPECT_EQ(summary.jobs["line A aaaaaaaa"].passed, 2u);
    const std::string text = ReportText(summary);
    EXPECT_NE(text.find("per job and lot (name checksum lot NAME):\n  line A aaaaaaaa\n"),
              std::string::npos)
        << text;
    EXPECT_NE(ReportCsv(summary).find("\njob,line A aaaaaaaa lot W49 A,2,1,1,"), std::string::npos);
    EXPECT_NE(ReportPage(summary, LineReport(), {"now", "f"})
                  .find("<h2>per job and lot (name checksum lot NAME)</h2>"),
              std::string::npos);
}

// A damaged day file can hold thousands of junk lines: the first ten are named, the rest counted.
TEST(ReportTest, ADamagedFileNamesTheFirstTenBadLinesAndCountsTheRest) {
    ReportSummary summary;
    for (std::uint64_t line = 1; line <= 25; ++line) {
        AddReportLine(summary, line == 13 ? Record("COM1", true, nullptr, "success", "") : "junk",
                      "f", line);
    }
    EXPECT_EQ(summary.records, 1u);
    EXPECT_EQ(summary.badLineCount, 24u);
    EXPECT_EQ(summary.badLines.size(), kNamedBadLines);
    const std::string text = ReportText(summary);
    EXPECT_NE(text.find("did not parse: 24 (f:1, f:2, f:3, f:4, f:5, f:6, f:7, f:8, f:9, f:10 "
                        "and 14 more)\n"),
              std::string::npos)
        << text;
    EXPECT_NE(ReportCsv(summary).find("\nbad-line,f:10,,,,,,,,,,\nbad-lines-not-named,14,"),
              std::string::npos)
        << ReportCsv(summary);
}

// Only the fields the reports use are read from a line, but a line reads as its whole parsed
// document would: the last of a repeated key counts, a field of the wrong type is absent.
TEST(ReportTest, ARecordLineReadsAsItsParsedDocument) {
    const struct {
        const char* line;
        bool isRecord;
        RecordResult result = RecordResult::Passed;
        std::optional<std::uint64_t> duration = std::nullopt;
        bool hasFile = false;
        const char* path = nullptr;  // checked with duration and hasFile when given
        const char* port = nullptr;
    } cases[] = {
        {R"({"passed":true,"passed":"no"})", false},
        {R"({"outcome":{"passed":true}})", false},
        {R"({"passed":true} {})", false},
        {R"({"passed":"no","passed":false,"outcome":{"kind":"link-lost"}})", true,
         RecordResult::LinkLost},
        {R"({"passed":false,"outcome":{"kind":"no-answer"}})", true, RecordResult::NoAnswer},
        {R"({"passed":false,"outcome":{"kind":"refused","kind":"supply-fault"}})", true,
         RecordResult::ChipFailed},
        {R"({"passed":false,"outcome":"link-lost"})", true, RecordResult::ChipFailed},
        {R"({"passed":true,"duration_ms":-5,"port":"C1","port":null})", true, RecordResult::Passed,
         std::nullopt, false, "", ""},
        {R"({"passed":true,"duration_ms":1234,"file":{"sha256":"ab","size":[1]}})", true,
         RecordResult::Passed, 1234, true, "(no file)"},
        {R"({"file":{"path":"a.hex","path":7},"passed":true,"port":"C2"})", true,
         RecordResult::Passed, std::nullopt, true, "(no file)", "C2"},
        {R"({"file":{"path":"a.hex"},"file":"b.hex","passed":true})", true, RecordResult::Passed,
         std::nullopt, false, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        const auto record = ParseRecordLine(c.line);
        ASSERT_EQ(record.has_value(), c.isRecord);
        if (!record) {
            continue;
        }
        EXPECT_EQ(record->result, c.result);
        if (c.path != nullptr) {
            EXPECT_EQ(record->duration, c.duration);
            EXPECT_EQ(record->hasFile, c.hasFile);
            EXPECT_EQ(record->filePath, c.hasFile ? c.path : "");
        }
        if (c.port != nullptr) {
            EXPECT_EQ(record->port, c.port);
        }
    }
    // A failed run whose steps are an empty list touched no chip; a step, or no list, did.
    for (const auto& [line, noChip] : {std::pair{R"({"passed":false,"steps":[]})", true},
                                       {R"({"passed":true,"steps":[]})", false},
                                       {R"({"passed":false,"steps":["program"]})", false},
                                       {R"({"passed":false,"steps":[[]]})", false},
                                       {R"({"passed":false,"steps":[],"steps":"x"})", false},
                                       {R"({"passed":false})", false}}) {
        EXPECT_EQ(ParseRecordLine(line)->touchedNoChip, noChip) << line;
    }
}

TEST(ReportTest, RecordTimesFallIntoHoursAndLongPeriodsIntoWiderBins) {
    EXPECT_EQ(HourText(*HourOfTime("2026-12-07T08:59:59.999+08:00")), "2026-12-07 08:00");
    EXPECT_EQ(HourText(*HourOfTime("1969-12-31T23:00:00")), "1969-12-31 23:00");
    EXPECT_EQ(*HourOfTime("2026-12-08T00:00") - *HourOfTime("2026-12-07T23:00"), 1);
    for (const char* bad : {"", "2026-02-30T08:00", "2026-12-07T24:00", "2026-12-07", "x"}) {
        EXPECT_FALSE(HourOfTime(bad)) << bad;
    }
    const std::pair<std::int64_t, std::int64_t> spans[] = {
        {1, 1},
        {744, 1},
        {745, 2},
        {24 * 62, 2},
        {24 * 365, 12},
        {24 * 3650, 168},
        {24 * 36500, 50 * 24},  // a century: whole days, at most 744 bins
    };
    for (const auto& [span, hours] : spans) {
        EXPECT_EQ(HoursPerBin(span), hours) << span;
    }
}

TEST(ReportPageTest, EscapedTextHoldsNoMarkupAndNoControlCharacter) {
    using namespace std::string_literals;
    EXPECT_EQ(HtmlEscape("<a href='x'>&\"\0\x01\t编程"s),
              "&lt;a href=&#39;x&#39;&gt;&amp;&quot;\uFFFD\uFFFD\t编程");
    EXPECT_EQ(ClipFront("/dev/serial/by-id/usb-编程器", 10), "…-编程器");
    EXPECT_EQ(ClipFront("/dev/serial/by-id/usb-编程器", 8), "…程器");  // whole characters only
}

#ifdef KORU_TEST_DATA_DIR
// The page of a known set of records (tests/data/report_records.jsonl, also shown to a browser
// by the browser test): a bar per hour with chips, port, PC, failed step and filled time bin,
// and every text of the records escaped, whatever markup it holds.
TEST(ReportPageTest, ChartsHaveTheirBarsAndRecordTextStaysText) {
    struct Sinks : RecordSink {
        void Record(const ReportRecord& record) override {
            AddRecord(summary, record);
            line.Add(record);
        }
        void Unparsable(const std::string& where) override { AddUnparsable(summary, where); }
        ReportSummary summary;
        LineReport line;
    } sinks;
    RecordFiles source({std::string(KORU_TEST_DATA_DIR) + "/report_records.jsonl"});
    ASSERT_EQ(source.ReadInto(sinks).opened, 1u);
    const std::string page = ReportPage(sinks.summary, sinks.line, {"now", "<b>days</b>"});

    const struct {
        const char* chart;
        int bars;
    } charts[] = {{"hourly", 3}, {"yield-port", 4}, {"yield-pc", 2}, {"pareto", 3}, {"times", 5}};
    for (const auto& chart : charts) {
        const std::size_t from = page.find(std::string("data-chart=\"") + chart.chart + "\"");
        ASSERT_NE(from, std::string::npos) << chart.chart;
        const std::string svg = page.substr(from, page.find("</svg>", from) - from);
        int bars = 0;
        for (std::size_t at = svg.find("class=\"bar\""); at != std::string::npos;
             at = svg.find("class=\"bar\"", at + 1)) {
            ++bars;
        }
        EXPECT_EQ(bars, chart.bars) << chart.chart;
    }
    EXPECT_EQ(page.find("<script"), std::string::npos);
    EXPECT_EQ(page.find("<img"), std::string::npos);
    EXPECT_EQ(page.find("<b>"), std::string::npos);
    EXPECT_NE(page.find("/srv/fw/&lt;/code&gt;&lt;script&gt;alert(&quot;x&quot;)&lt;/script&gt;"),
              std::string::npos);
    EXPECT_NE(page.find("lines that did not parse: 12"), std::string::npos);
    EXPECT_NE(page.find("report_records.jsonl:18 and 2 more"), std::string::npos);
    // COM1 of pc-a and COM1 of pc-b are two sockets, in the tables as in the charts.
    for (const char* port : {"pc-a: COM1 (/dev/COM1)", "pc-b: COM1 (/dev/COM1)"}) {
        EXPECT_NE(page.find(std::string("<tr><td><code>") + port + "</code>"), std::string::npos)
            << port;
        EXPECT_NE(ReportText(sinks.summary).find(std::string("\n  ") + port + "\n"),
                  std::string::npos)
            << port;
    }
    EXPECT_EQ(PortGroups(sinks.summary).at("pc-b: COM1 (/dev/COM1)").chips, 3u);
    EXPECT_NE(page.find("<title>pc-b: COM1: yield "), std::string::npos);
    EXPECT_NE(page.find("<h2>per PC</h2>"), std::string::npos);
}
#endif

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

// One flat list: options before or after the words, the last of a pair (or of a repeated
// option) wins, and an option's value is the next argument whatever it looks like.
// A job fixes the set-up: what it fixes is refused beside --job; job create needs its code and
// chip kind, and its own options go nowhere else.
TEST(OptionsTest, JobOptionsAreRefusedWhereTheyDoNotBelong) {
    const struct {
        std::vector<std::string> args;
        std::string error;  // empty: accepted
    } cases[] = {
        {{"--job", "j.korujob", "program"}, ""},
        {{"--job", "j.korujob", "--confirm", "0123abcd", "--repeat", "program"}, ""},
        {{"--job", "j.korujob", "program", "f.hex"}, "the job fixes a code file"},
        {{"--job", "j.korujob", "--otp", "--range", "0-1F", "program"},
         "the job fixes --range, --otp/--mtp"},
        {{"--job", "j.korujob", "--verify", "--slow", "--serial", "SN", "program"},
         "the job fixes step options, --fast/--slow, --serial"},
        {{"--job", "j.korujob", "verify", "f.hex"}, "--job works only with program"},
        {{"--confirm", "0123abcd", "program", "f.hex"}, "--confirm works only with --job"},
        {{"job"}, "job takes create or show"},
        {{"job", "show"}, "job show needs a job file"},
        {{"job", "show", "j.korujob", "--lock"}, "work only with job create"},
        {{"job", "create", "j.korujob", "--mtp"}, "job create needs --code"},
        {{"job", "create", "j.korujob", "--code", "f.hex"}, "job create needs the chip kind"},
        {{"job", "create", "j.korujob", "--code", "f.hex", "--otp", "--quota", "0"},
         "--quota takes a number of passed chips, at least 1"},
        {{"job", "create", "j.korujob", "--code", "f.hex", "--otp", "--quota", "-3"},
         "--quota takes"},
        {{"job", "create", "j.korujob", "--code", "f.hex", "--otp", "--password-file", "p"},
         "--password-file works only with --lock"},
        {{"program", "f.hex", "--quota", "5"}, "work only with job create"},
        {{"--events", "json", "probe"}, "--events takes jsonl"},
        {{"--events", "jsonl", "report"}, "--events works only with the commands that speak"},
        {{"--events", "jsonl", "image-checksum", "f.hex"}, "--events works only with"},
        {{"--events=jsonl", "--repeat", "program", "f.hex"}, ""},
        {{"job", "create", "j.korujob", "--code", "f.hex", "--mtp", "--serial", "SN", "--quota",
          "500", "--lock", "--password-file", "p", "--verify"},
         ""},
    };
    for (const auto& entry : cases) {
        std::string error;
        const auto options = ParseOptions(entry.args, error);
        EXPECT_EQ(options.has_value(), entry.error.empty()) << entry.error << ": " << error;
        if (!entry.error.empty()) {
            EXPECT_NE(error.find(entry.error), std::string::npos) << error;
        }
    }
    std::string error;
    const auto created = ParseOptions(
        {"job", "create", "j.korujob", "--code", "f.hex", "--mtp", "--quota", "500", "--lock"},
        error);
    ASSERT_TRUE(created) << error;
    EXPECT_EQ(created->command, Command::Job);
    EXPECT_EQ(created->jobArgs, (std::vector<std::string>{"create", "j.korujob"}));
    EXPECT_EQ(created->creation.quota, 500u);
    EXPECT_TRUE(created->creation.lock);
}

TEST(OptionsTest, OptionsGoAnywhereAndTheLastOneWins) {
    const struct {
        std::vector<std::string> args;
        Command command;
        std::string file;
        std::optional<std::string> port, log;
        std::optional<bool> otp;
        bool fast;
        std::uint32_t steps;
    } cases[] = {
        {{"program", "f.hex", "--port", "COM1", "--mtp", "--otp"},
         Command::Program,
         "f.hex",
         "COM1",
         std::nullopt,
         true,
         true,
         0},
        {{"--fast", "--slow", "--port", "A", "--port=B", "probe"},
         Command::Probe,
         "",
         "B",
         std::nullopt,
         std::nullopt,
         false,
         0},
        {{"--erase", "verify", "--verify", "f.hex", "--otp", "--mtp"},
         Command::Verify,
         "f.hex",
         std::nullopt,
         std::nullopt,
         false,
         true,
         kAutoEraseMtp | kAutoVerify},
        {{"--log", "--yes", "program", "--", "-f.hex"},
         Command::Program,
         "-f.hex",
         std::nullopt,
         "--yes",
         std::nullopt,
         true,
         0},
    };
    for (const auto& entry : cases) {
        std::string error;
        const auto options = ParseOptions(entry.args, error);
        ASSERT_TRUE(options) << entry.args[0] << ": " << error;
        EXPECT_EQ(options->command, entry.command) << entry.args[0];
        EXPECT_EQ(options->file, entry.file) << entry.args[0];
        EXPECT_EQ(options->port, entry.port) << entry.args[0];
        EXPECT_EQ(options->log, entry.log) << entry.args[0];
        EXPECT_EQ(options->otp, entry.otp) << entry.args[0];
        EXPECT_EQ(options->fast, entry.fast) << entry.args[0];
        EXPECT_EQ(options->steps, entry.steps) << entry.args[0];
        EXPECT_EQ(options->stepsGiven, entry.steps != 0) << entry.args[0];
        EXPECT_FALSE(options->yes) << entry.args[0];
    }
}

TEST(GangTest, EachPortRunGetsItsOwnPortAndNoRepeat) {
    EXPECT_EQ(PortList("COM1,/dev/ttyUSB0,,COM3,"),
              (std::vector<std::string>{"COM1", "/dev/ttyUSB0", "COM3"}));
    const struct {
        std::vector<std::string> args, portRun;
    } cases[] = {
        {{"--port", "COM1,COM2", "--repeat", "--verify", "--log", "/l.jsonl", "program", "fw.hex"},
         {"--port", "COM2", "--verify", "--log", "/l.jsonl", "program", "fw.hex"}},
        // Left in, either would make the port's run a gang again.
        {{"--port=COM1,COM2", "--repeat=true", "--log=/l.jsonl", "program", "fw.hex"},
         {"--port", "COM2", "--log=/l.jsonl", "program", "fw.hex"}},
        {{"--port", "COM1,COM2", "program", "--", "--port", "--repeat"},
         {"--port", "COM2", "program", "--", "--port", "--repeat"}},
    };
    for (const auto& entry : cases) {
        EXPECT_EQ(PortRunArguments(entry.args, "COM2"), entry.portRun) << entry.args[0];
    }
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
