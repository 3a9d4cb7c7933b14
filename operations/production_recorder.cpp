#include "operations/production_recorder.h"

#include "operations/production_record.h"

namespace koru {

ProductionRecorder::ProductionRecorder(std::string logPath, RecordStore* store,
                                       RecorderHandlers handlers)
    : log_(std::move(logPath)), store_(store), handlers_(std::move(handlers)) {}

ProductionRecorder::~ProductionRecorder() {
    if (started_) {
        SetAutoRunObserver({});
    }
}

bool ProductionRecorder::Check(std::string& error) {
    return log_.Check(error);
}

void ProductionRecorder::Start() {
    SetAutoRunObserver([this](const AutoRunReport& report) { Record(report); });
    started_ = true;
}

void ProductionRecorder::Record(const AutoRunReport& report) {
    const nlohmann::json record = ProductionRecord(report);
    std::string reason;
    const bool written = log_.Write(record, report.started, reason);
    // The store takes the record even when the file did not: the line's copy is then the only
    // one. The front end hears of a failed write last, since the window's box waits for the
    // operator and the lot must have counted the chip by then.
    if (store_ != nullptr) {
        store_->Store(record);
    }
    if (handlers_.recorded) {
        handlers_.recorded(record);
    }
    if (!written && handlers_.writeFailed) {
        handlers_.writeFailed(reason);
    }
}

}  // namespace koru
