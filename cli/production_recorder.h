#pragma once

// koru-cli's production record: while it lives, every auto-programming run appends its record
// to the log, and a record that cannot be written is reported on standard error without
// touching the run's result.

#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "operations/production_log.h"

namespace koru::cli {

class ProductionRecorder {
  public:
    // logPath: the --log file; nothing: the day file.
    explicit ProductionRecorder(const std::optional<std::string>& logPath);
    ~ProductionRecorder();
    ProductionRecorder(const ProductionRecorder&) = delete;
    ProductionRecorder& operator=(const ProductionRecorder&) = delete;

    // Checks that the log can be written and starts recording. False with the reason.
    // afterWrite gets each record once the day file holds it (the line database's upload).
    bool Start(std::string& error, std::function<void(const nlohmann::json&)> afterWrite = {});

  private:
    ProductionLog log_;
    bool started_ = false;
};

}  // namespace koru::cli
