#include "operations/link_faults.h"

#include "core/services.h"
#include "core/shared_state.h"
#include "core/step_report.h"
#include "link/connection.h"
#include "link/transport.h"
#include "operations/beeps.h"

namespace koru {

void HandleLinkFailure() {
    FailureFlag = 1;
    CountFailureFlag = 0;
    if (LineRefusedAtConnect()) {
        // The driver's reason has been shown; the busy text would name another cause.
        ReportRefusal(LineSetupRefusal());
        return;
    }
    Window().RestartTick();
    ReportOutcome(OutcomeKind::NoAnswer, kLinkBusyText);
}

void HandleVddVppFault() {
    FailureFlag = 1;
    BeepPattern(3, kShortBeepMs);
    Window().ShowMessageBox(kSupplyFaultCaption, kSupplyFaultText, MessageIcon::Warning,
                            MessageButtons::Ok);
    ReportOutcome(OutcomeKind::SupplyFault, kSupplyFaultStatus);
}

}  // namespace koru
