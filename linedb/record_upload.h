#pragma once

// Production records into the line database, after the day file has them: a record the
// database does not take (server down, network gone) waits in a queue file and is uploaded
// later; its id makes a second upload change nothing.

#include <cstddef>
#include <nlohmann/json.hpp>
#include <string>

namespace koru {

class LineDatabase;

// unsent.jsonl beside the default line database (DefaultLineDatabasePath).
std::string UnsentRecordsPath();

// Stores record in database (nullptr: the database could not be reached); else queues it.
// False, with the reason, when it was queued.
bool UploadOrQueue(LineDatabase* database, const nlohmann::json& record, std::string& error);

// Uploads the queued records, oldest first; those the database refuses stay queued.
bool UploadQueuedRecords(LineDatabase& database, std::size_t& sent, std::size_t& left,
                         std::string& error);

}  // namespace koru
