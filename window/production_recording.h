#pragma once

// The window's production record: every auto-programming run appends its record to the day
// file. A record that cannot be written never stops or changes programming: the status line
// says so after each such run, and a warning box says so once per run of the program.

#include <atomic>
#include <functional>
#include <nlohmann/json.hpp>

#include "operations/auto_run_report.h"
#include "operations/production_log.h"

namespace koru {

class CProgrammerDlg;

// Shown with the warning box and added to the status line.
inline constexpr char kRecordWarningCaption[] = "警告";
inline constexpr char kRecordNotWrittenText[] = "生产记录无法写入:";
inline constexpr char kRecordWarningTail[] = "编程照常进行,但这些芯片没有记录。本次运行不再提示。";
inline constexpr char kRecordNotWrittenNote[] = " [生产记录未写入]";

class WindowProductionRecord {
  public:
    // Starts recording the runs of window's auto-programming. afterWrite gets each record once
    // the day file holds it (the line database's upload), on the worker.
    explicit WindowProductionRecord(CProgrammerDlg& window,
                                    std::function<void(const nlohmann::json&)> afterWrite = {});
    ~WindowProductionRecord();
    WindowProductionRecord(const WindowProductionRecord&) = delete;
    WindowProductionRecord& operator=(const WindowProductionRecord&) = delete;

  private:
    // On the auto-programming worker, at the end of a run.
    void Record(const AutoRunReport& report);
    // On the window's thread: the status line note, and the box the first time.
    void ReportFailure(const std::string& reason, bool firstTime);

    CProgrammerDlg& m_window;
    std::function<void(const nlohmann::json&)> m_afterWrite;
    ProductionLog m_log;
    std::atomic<bool> m_warned{false};
};

}  // namespace koru
