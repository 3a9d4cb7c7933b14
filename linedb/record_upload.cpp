#include "linedb/record_upload.h"

#include <filesystem>

#include "linedb/line_database.h"
#include "linedb/line_database_location.h"
#include "operations/production_log.h"
#include "platform/queue_file.h"

namespace koru {

std::string UnsentRecordsPath() {
    return (std::filesystem::path(DefaultLineDatabasePath()).parent_path() / "unsent.jsonl")
        .string();
}

bool UploadOrQueue(LineDatabase* database, const nlohmann::json& record, std::string& error) {
    if (database != nullptr && database->StoreRecord(record, error)) {
        return true;
    }
    if (database == nullptr && error.empty()) {
        error = "no line database";
    }
    std::string queueError, damaged;
    if (!AppendToQueue(UnsentRecordsPath(), ProductionLine(record), queueError, &damaged)) {
        error += "; and it could not be kept for later: " + queueError;
    }
    if (!damaged.empty()) {
        error += "; " + damaged;
    }
    return false;
}

bool UploadQueuedRecords(LineDatabase& database, std::size_t& sent, std::size_t& left,
                         std::string& error) {
    std::string firstRefusal;
    const bool drained = DrainQueue(
        UnsentRecordsPath(),
        [&](const std::string& line) {
            const nlohmann::json record = nlohmann::json::parse(line, nullptr, false);
            std::string reason;
            if (record.is_discarded()) {
                reason = "a queued line is not a record";
            } else if (database.StoreRecord(record, reason)) {
                return true;
            }
            if (firstRefusal.empty()) {
                firstRefusal = reason;
            }
            return false;
        },
        sent, left, error);
    if (drained && left != 0) {
        error = firstRefusal;
    }
    return drained && left == 0;
}

}  // namespace koru
