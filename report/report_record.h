#pragma once

// One production record as the reports read it, and where records come from: a source hands
// every record (and every line that is not one) to a sink, so the reports do not care whether
// the records sit in day files or elsewhere.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace koru {

// How a run ended, as the reports group it. A supply fault counts with the chip failures: the
// chip in the socket did not get its code either way.
enum class RecordResult : std::uint8_t { Passed, ChipFailed, LinkLost, NoAnswer, Refused };
inline constexpr std::size_t kRecordResults = 5;

struct ReportRecord {
    std::string time;  // as recorded: local time with its UTC offset; may be empty
    std::string host, port, device;
    bool hasFile = false;
    std::string filePath, sha256;
    std::string jobName, jobChecksum;  // a job run's; empty for runs without a job
    std::string lot;                   // the lot a job run's chip went into; may be empty
    bool passed = false;
    RecordResult result = RecordResult::ChipFailed;
    std::string failedStep;                 // empty when none was recorded
    std::optional<std::uint64_t> duration;  // the run's milliseconds, when recorded
    // Failed with an empty list of steps: no programmer answered the probe, no chip was touched.
    bool touchedNoChip = false;
};

// A record line parsed; nothing when it is not a production record (not JSON, not an object,
// or without a true or false verdict).
std::optional<ReportRecord> ParseRecordLine(std::string_view line);

class RecordSink {
  public:
    virtual ~RecordSink() = default;
    virtual void Record(const ReportRecord& record) = 0;
    // where: "FILE:LINE" of a line that is not a record.
    virtual void Unparsable(const std::string& where) = 0;
};

struct SourceResult {
    std::size_t opened = 0;             // stores (files) that could be read
    std::vector<std::string> problems;  // one reason per store that could not be read
};

class RecordSource {
  public:
    virtual ~RecordSource() = default;
    // Hands every record to sink in stored order; blank lines are skipped.
    virtual SourceResult ReadInto(RecordSink& sink) = 0;
};

// Records from JSON Lines files: day files or --log files.
class RecordFiles : public RecordSource {
  public:
    explicit RecordFiles(std::vector<std::string> paths) : paths_(std::move(paths)) {}
    SourceResult ReadInto(RecordSink& sink) override;

  private:
    std::vector<std::string> paths_;
};

// Records handed over as JSON lines, as the line database gives them back; a line that is not
// a record is named "NAME:N" (its place among them).
class RecordLines : public RecordSource {
  public:
    RecordLines(std::string name, std::vector<std::string> lines)
        : name_(std::move(name)), lines_(std::move(lines)) {}
    SourceResult ReadInto(RecordSink& sink) override;

  private:
    std::string name_;
    std::vector<std::string> lines_;
};

}  // namespace koru
