#pragma once

// One line of the production record: what went into one chip, from which file, and whether
// it passed. Built from the engine's state at the end of an auto-programming run.

#include <cstdint>
#include <nlohmann/json.hpp>

#include "operations/auto_run_report.h"

namespace koru {

// The record of the run that report describes, with the port, chip kind, code file, range
// and image checksum as the engine holds them now (on the worker, before the next run).
nlohmann::json ProductionRecord(const AutoRunReport& report);

// A record's unique id: 128 random bits in hexadecimal. The line database takes a record once
// by its id, however often it is uploaded.
std::string NewRecordId();

// Stable names of the auto-programming steps in records, and of the probe before them ("probe"):
// "blank-check", "erase", "program", "verify", "smart", "ldc-protect", "read-protect",
// "hw-protect"; "step-N" for another code.
std::string StepName(std::uint8_t code);

}  // namespace koru
