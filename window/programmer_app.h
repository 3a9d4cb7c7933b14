#pragma once

// CProgrammerApp: the program. Starts the toolkit, installs the window services of the one main
// window, runs it modally and ends the process when it closes.

namespace koru {

class CProgrammerApp {
  public:
    // Returns the process's exit status. When an operation worker or a reset listener is still
    // running as the window closes, it ends the process at once instead of returning (see the
    // .cpp): such a thread holds the port and the image, which must not be torn down under it.
    int Run(int argc, char** argv);
};

}  // namespace koru
