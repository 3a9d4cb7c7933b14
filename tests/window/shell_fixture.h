#pragma once

// The started program in a test: the real main window (boxes and dialogs answered by the test)
// with its window services installed and its start-up run, the settings in a temporary
// configuration folder, and a helper that waits, pumping the window's events, until every
// worker and listener thread has returned.

#include <QTemporaryDir>
#include <memory>

#include "tests/window/test_window.h"
#include "window/qt_window_services.h"

namespace koru {
class SettingsStore;
}

namespace koru::test {

class StartedWindow {
  public:
    StartedWindow();
    ~StartedWindow();

    // Runs the start-up (loading the settings) and shows the window.
    TestWindow& Start();
    TestWindow& Window() { return *m_window; }
    // Ends the window as the close box does (saving the settings), waits for the threads,
    // closes the port and destroys the window.
    void Close();

    // Clicks a control of the window with the mouse.
    void Click(int id);

    static SettingsStore StoredSettings();
    // Waits until no worker or listener runs, processing the window's events meanwhile.
    static bool WaitForThreads(int timeoutMs = 60000);

  private:
    std::unique_ptr<TestWindow> m_window;
    std::unique_ptr<QtWindowServices> m_services;
};

// A fresh configuration folder for the settings of the tests in this process.
void UseTemporaryConfigFolder(QTemporaryDir& folder);

}  // namespace koru::test
