#include "link/connection.h"

#include <atomic>
#include <cctype>
#include <cstdint>
#include <mutex>
#include <string>

#include "core/services.h"
#include "core/shared_state.h"
#include "core/step_report.h"
#include "link/command_block.h"
#include "link/port_errors.h"
#include "link/reset_listener.h"
#include "link/transport.h"
#include "platform/com_ports.h"
#include "platform/serial_port.h"

namespace koru {
namespace {

std::mutex openPortMutex;
std::string openPortName;

constexpr std::size_t kQueueBytesAtOpen = 65536;
constexpr std::size_t kQueueBytesPerExchange = 1024;
constexpr std::uint32_t kCommandTakeMs = 80;  // the programmer's time to take the block
constexpr std::uint32_t kProbeRetryMs = 100;

constexpr char kPortWarningCaption[] = "警告";

// The last ConnectAndSend refused the port's driver: trying again cannot help.
std::atomic<bool> lineRefused{false};

// The port cannot be used: the warning box (with why as an added line when there is a reason:
// the open's failure), and the port counts as not selected.
bool FailPort(const std::string& reason) {
    const std::string text =
        reason.empty() ? std::string(kLinkLostText) : kLinkLostText + ("\n" + reason);
    Window().ShowMessageBox(kPortWarningCaption, text, MessageIcon::Warning, MessageButtons::Ok);
    FailureFlag = 1;
    ProgrammerFoundFlag = 0;
    PortSelectedFlag = 0;
    Window().SetStatusLine(kPortHardwareErrorText);
    return false;
}

// The driver will not carry the programmer's line. Its reason is the whole story, in the box
// and on the status line: the port itself is there and nothing was sent.
bool RefuseLine(const std::string& reason) {
    Window().ShowMessageBox(kPortWarningCaption, reason, MessageIcon::Warning, MessageButtons::Ok);
    FailureFlag = 1;
    ProgrammerFoundFlag = 0;
    PortSelectedFlag = 0;
    Window().SetStatusLine(reason);
    return false;
}

bool FailConnect() {
    FailureFlag = 1;
    Window().SetStatusLine(kConnectFailedText);
    return false;
}

std::string UpperCase(std::string_view text) {
    std::string upper(text);
    for (char& c : upper) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return upper;
}

}  // namespace

bool ConnectAndSend() {
    lineRefused = false;
    if (!Port().SetupQueues(kQueueBytesPerExchange, kQueueBytesPerExchange)) {
        RecordLinkLost();
        // A port that never opened says why below the box's own text.
        std::string why;
        if (!Port().IsOpen() && Port().LastOpenError().failure != PortOpenFailure::None) {
            why = PortOpenErrorLine(Port().LastOpenError());
        }
        return FailPort(why);
    }
    switch (ConfigurePort()) {
        case LineSetup::Ready:
            break;
        case LineSetup::Refused:
            lineRefused = true;
            return RefuseLine(LineSetupRefusal());
        case LineSetup::PortGone:
            // Found gone already: sending would only wait out its own retries.
            return FailConnect();
    }

    FailureFlag = 0;
    std::uint32_t sent = 0;
    SendBytes(CommandBlock.data(), kCommandBlockSize, sent);
    if (FailureFlag != 0 || sent != kCommandBlockSize) {
        return FailConnect();
    }
    Port().WaitTransmitEmpty();
    DelayMs(kCommandTakeMs);

    std::uint8_t answer[kCommandBlockSize] = {};
    std::uint32_t received = 0;
    ReceiveBytes(answer, kCommandBlockSize, received);
    if (FailureFlag != 0 || received != kCommandBlockSize) {
        return FailConnect();
    }
    ApplyNormalTimeouts();
    return true;
}

bool LineRefusedAtConnect() {
    return lineRefused;
}

std::string OpenPortName() {
    std::lock_guard lock(openPortMutex);
    return openPortName;
}

bool OpenPort(std::string_view name) {
    Port().Close();
    if (!Port().Open(name)) {
        return false;
    }
    {
        std::lock_guard lock(openPortMutex);
        openPortName.assign(name);
    }
    Port().SetupQueues(kQueueBytesAtOpen, kQueueBytesAtOpen);
    CommandBlock.fill(kCommandBlockFiller);
    RefreshCommandBlock();
    SetOperationCode(kProbeCode);
    return ConnectAndSend();
}

void ProbePort(std::string_view name) {
    Window().SetStatusLine(kProbeAnnounceText);
    ResetOutcome();
    PortSelectedFlag = 1;
    ProgrammerFoundFlag = 0;
    FailureFlag = 0;

    EndResetListener();

    BusyFlag = 1;
    FailureFlag = 0;
    Window().RefreshCursor();
    bool found = OpenPort(name);
    if (!found && !lineRefused) {
        DelayMs(kProbeRetryMs);
        found = OpenPort(name);
    }
    if (found) {
        ProgrammerFoundFlag = 1;
    }
    BusyFlag = 0;
    Window().RefreshCursor();

    if (ProgrammerFoundFlag != 0) {
        ResetOutcome();  // a first try that failed is not the probe's result
        // A COM name reads as the operator chose it; a device path stays as it is.
        const std::string shown = ComNumber(name) != 0 ? UpperCase(name) : std::string(name);
        ReportSuccess(kProbeFoundText + shown);
        return;
    }
    CountFailureFlag = 0;
    FailureFlag = 1;
    if (lineRefused) {
        // The refusal has said why; the busy text would blame the programmer instead.
        ResetOutcome();
        RecordOutcome(
            {OutcomeKind::Refused, ChipFault::None, std::nullopt, kProbeCode, LineSetupRefusal()});
        return;
    }
    Window().RestartTick();
    // The probe's own text stays, whatever the cause; front ends read the cause from the port.
    Outcome outcome;
    outcome.kind = LinkLostInOperation() ? OutcomeKind::LinkLost : OutcomeKind::NoAnswer;
    outcome.step = kProbeCode;
    outcome.status = kLinkBusyText;
    ResetOutcome();
    RecordOutcome(outcome);
    Window().SetStatusLine(kLinkBusyText);
}

}  // namespace koru
