#pragma once

#include <gtest/gtest.h>

#include "tests/support/recording_window_services.h"

namespace koru::test {

// Puts every process-wide flag, option word, count and the image back to its start-up value.
void ResetProcessState();

// A test with fresh process state and a recording window installed.
class ProcessStateTest : public ::testing::Test {
  protected:
    ProcessStateTest() { ResetProcessState(); }
    ~ProcessStateTest() override { ResetProcessState(); }

    RecordingWindowServices window_;
};

}  // namespace koru::test
