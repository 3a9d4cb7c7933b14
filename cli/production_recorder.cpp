#include "cli/production_recorder.h"

#include <cstdio>

#include "operations/production_record.h"

namespace koru::cli {

ProductionRecorder::ProductionRecorder(const std::optional<std::string>& logPath)
    : log_(logPath.value_or("")) {}

ProductionRecorder::~ProductionRecorder() {
    if (started_) {
        SetAutoRunObserver({});
    }
}

bool ProductionRecorder::Start(std::string& error,
                               std::function<void(const nlohmann::json&)> afterWrite) {
    if (!log_.Check(error)) {
        return false;
    }
    SetAutoRunObserver([this, afterWrite](const AutoRunReport& report) {
        std::string reason;
        const nlohmann::json record = ProductionRecord(report);
        if (!log_.Write(record, report.started, reason)) {
            std::fprintf(stderr, "koru-cli: warning: the production record was not written: %s\n",
                         reason.c_str());
        }
        if (afterWrite) {
            afterWrite(record);
        }
    });
    started_ = true;
    return true;
}

}  // namespace koru::cli
