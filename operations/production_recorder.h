#pragma once

// The production record of every auto-programming run, the same for koru-cli and the window:
// while a recorder lives, each run's record is made, appended to the day file (or the --log
// file) and handed to the record store (the line database's station). A record that cannot be
// written never changes the run's result: the front end is told through writeFailed.

#include <functional>
#include <nlohmann/json.hpp>
#include <string>

#include "operations/auto_run_report.h"
#include "operations/production_log.h"

namespace koru {

// Where a record goes once the day file holds it.
class RecordStore {
  public:
    virtual ~RecordStore() = default;
    // Into the store, or kept for later; never fails the run.
    virtual void Store(const nlohmann::json& record) = 0;
};

struct RecorderHandlers {
    // On the run's worker: the day file did not take the record, and why.
    std::function<void(const std::string& reason)> writeFailed;
    // On the run's worker, once the record is in the day file and the store: what the front
    // end shows of it (a title, an event, a lot's count).
    std::function<void(const nlohmann::json& record)> recorded;
};

class ProductionRecorder {
  public:
    // logPath: the file every record goes to; empty: the day files. store: none, or where
    // records go after the file; it outlives the recorder.
    ProductionRecorder(std::string logPath, RecordStore* store, RecorderHandlers handlers);
    ~ProductionRecorder();
    ProductionRecorder(const ProductionRecorder&) = delete;
    ProductionRecorder& operator=(const ProductionRecorder&) = delete;

    // Opens the file the next record would go to: false with the reason when it cannot be
    // written (koru-cli refuses to start a run then). Nothing is written.
    bool Check(std::string& error);
    // Records every run from now on, until the recorder ends.
    void Start();

  private:
    void Record(const AutoRunReport& report);

    ProductionLog log_;
    RecordStore* store_;
    RecorderHandlers handlers_;
    bool started_ = false;
};

}  // namespace koru
