#include "report/report_reading.h"

namespace koru {
namespace {

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

}  // namespace

ReportReading ReadReport(RecordSource& source, const ReportWants& wants) {
    ReportReading reading;
    ReportSinks sinks(reading.summary, wants.page ? &reading.line : nullptr,
                      wants.perHost ? &reading.hosts : nullptr);
    LotFilter lotOnly(sinks, wants.lot.value_or(""));
    reading.read = source.ReadInto(wants.lot ? static_cast<RecordSink&>(lotOnly) : sinks);
    return reading;
}

}  // namespace koru
