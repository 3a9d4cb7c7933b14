#pragma once

// CProgrammerApp: the program. Starts the toolkit, installs the window services of the one main
// window, runs it modally and ends the process when it closes.

namespace koru {

class CProgrammerDlg;

class CProgrammerApp {
  public:
    virtual ~CProgrammerApp() = default;

    // Returns the process's exit status. When an operation worker or a reset listener is still
    // running as the window closes, it ends the process at once instead of returning (see the
    // .cpp): such a thread holds the port and the image, which must not be torn down under it.
    int Run(int argc, char** argv);

  protected:
    // Called once the window has started (settings loaded, saved port probed), before it runs.
    virtual void WindowStarted(CProgrammerDlg& window) { (void)window; }
};

}  // namespace koru
