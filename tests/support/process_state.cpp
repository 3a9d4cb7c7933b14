#include "tests/support/process_state.h"

#include "core/outcome.h"
#include "core/shared_state.h"
#include "image/program_memory.h"
#include "platform/com_ports.h"

namespace koru::test {

void ResetProcessState() {
    ZeroSharedFlags();
    AutoOptions = 0;
    AutoFunc = 0;
    AutoCount = 0;
    SuccessCount = 0;
    FailureCount = 0;
    ResetProgramMemoryState();
    ResetOutcome();
    for (int com = 1; com <= kComPortCount; ++com) {
        SetComMapping(com, "");
    }
}

}  // namespace koru::test
