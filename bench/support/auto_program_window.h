#pragma once

// The window of a benchmark's auto-programming run, with nobody at it: an MTP chip on SAM data
// at 5.0 V in fast mode with verify ticked, and blank check as the run asks. The checksum field
// reads `checksum`; the last status line is kept in `status`; message boxes are answered as the
// quiet window answers them.

#include <string>

#include "core/services.h"

namespace koru::bench {

class AutoProgramWindow : public QuietWindowServices {
  public:
    explicit AutoProgramWindow(bool blankCheck) : blankCheck_(blankCheck) {}

    ChoiceState GetChoice(Choice choice) override;
    std::string ReadField(TextField field) override;
    void SetStatusLine(const std::string& text) override { status = text; }

    std::string checksum;
    std::string status;

  private:
    bool blankCheck_;
};

}  // namespace koru::bench
