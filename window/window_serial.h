#pragma once

// The window's serial job: the job chosen in "序列号设置…" (saved with the settings as
// "serialjob") gives every auto-programming run its value from the line database; the title
// shows the value just programmed and the next one, and records also go to the database. A
// build without the line database has none of it.

#include <QString>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>

namespace koru {

class CProgrammerDlg;

inline constexpr char kSerialSettingsEntryText[] = "序列号设置…";

class WindowSerial {
  public:
    explicit WindowSerial(CProgrammerDlg& window);
    ~WindowSerial();
    WindowSerial(const WindowSerial&) = delete;
    WindowSerial& operator=(const WindowSerial&) = delete;

    // Whether this build has the line database (the menu entry is offered only then).
    static bool Available();

    // Takes the job saved in the settings (none: runs without per-chip data).
    void LoadChoice();
    // Chooses job (empty: none) for the next runs and saves the choice.
    void Choose(const std::string& job);
    const std::string& Chosen() const;
    // The dialog, modal over the window.
    void ShowDialog();

    // On the worker after a run's record was written: into the database (or queued), and the
    // title's serial values brought up to date.
    void AfterRecord(const nlohmann::json& record);
    // The text the title carries after the program's name; empty without a job.
    QString TitleText();

  private:
    struct State;
    CProgrammerDlg& m_window;
    std::unique_ptr<State> m_state;
};

}  // namespace koru
