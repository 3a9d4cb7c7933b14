#include "window/command_router.h"

#include <QAbstractButton>
#include <QGroupBox>
#include <QString>
#include <cstdint>
#include <string>

#include "controls/control_host.h"
#include "core/shared_state.h"
#include "image/memory_view.h"
#include "image/program_memory.h"
#include "link/connection.h"
#include "operations/one_shot.h"
#include "operations/runner.h"
#include "window/window_job.h"

namespace koru {
namespace {

// Groups whose commands wait while an operation runs.
constexpr int kIdPortGroup = 101;
constexpr int kIdOperationGroup = 107;
constexpr int kIdFileGroup = 108;
constexpr int kIdMemoryGroup = 158;

constexpr int kIdChipVoltage = 135;

void Box(CommandWindow& window, const char* caption, const char* text, MessageIcon icon) {
    window.ShowMessage(QString::fromUtf8(caption), QString::fromUtf8(text), icon,
                       MessageButtons::Ok);
}

void NoCodeBox(CommandWindow& window) {
    Box(window, kNoCodeCaption, kNoCodeText, MessageIcon::Warning);
}

// The address fields into the range; a field that is not hexadecimal keeps the range as it was,
// and the operation then reports what it finds.
void ReadRange() {
    ReadAddressRange();
}

void AutoProgram(CommandWindow& window) {
    ReadRange();
    const AddressRange checked = GetChecksumRange();
    if (StartAddress.load() != checked.start || EndAddress.load() != checked.end) {
        Box(window, kAddressChangedCaption, kAddressChangedText, MessageIcon::None);
    } else if (CodeLoadedFlag.load() == 0) {
        NoCodeBox(window);
    } else if (window.Job().ReadyForRun()) {
        StartOperation(kAutoProgram);
    }
}

void BufferChecksumCommand(CommandWindow& window) {
    if (ImageOverwrittenFlag.load() != 0) {
        Box(window, kOverwrittenCaption, kOverwrittenText, MessageIcon::None);
    } else if (CodeLoadedFlag.load() == 0) {
        NoCodeBox(window);
    } else {
        ReadRange();
        StartOperation(kBufferChecksum);
    }
}

void ShowMemoryCommand(CommandWindow& window) {
    window.ShowMemoryView(true);
    if (!window.IsMemoryListPrepared()) {
        window.PrepareMemoryList();
    }
    StartOperation(kShowPageEnter);
}

void SelectView(CommandWindow& window, int radio, std::uint8_t code) {
    const auto* button = qobject_cast<const QAbstractButton*>(window.Control(radio));
    qobject_cast<QGroupBox*>(window.Control(kIdMemoryGroup))->setTitle(button->text());
    StartOperation(code);
}

}  // namespace

bool RefusedWhileBusy(const QWidget* parent) {
    if (BusyFlag.load() == 0 || parent == nullptr) {
        return false;
    }
    const int group = ControlId(parent);
    return group == kIdPortGroup || group == kIdOperationGroup || group == kIdFileGroup ||
           group == kIdMemoryGroup;
}

void RouteCommand(CommandWindow& window, int id, QWidget* parent) {
    // Operator mode disables those controls; a stand-in (a key) must not reach them either.
    if (RefusedWhileBusy(parent) || window.Job().Refuses(id)) {
        return;
    }
    switch (id) {
        case 110:
        case 111:
        case 112:
        case 113:
            ProbePort("COM" + std::to_string(id - 109));
            break;
        case 114:
        case 115:
            window.ApplyChipKind(id);
            break;
        case 116:
            window.SetFieldText(kIdChipVoltage, QStringLiteral("5.0"));
            break;
        case 117:
            window.SetFieldText(kIdChipVoltage, QStringLiteral("3.3"));
            break;
        case 119:
            Box(window, kDataFormatCaption, kRiscFormatText, MessageIcon::Warning);
            break;
        case 120:
            Box(window, kDataFormatCaption, kArmFormatText, MessageIcon::Warning);
            break;
        case 136:
            AutoProgram(window);
            break;
        case 137:
            if (CodeLoadedFlag.load() == 0) {
                NoCodeBox(window);
                break;
            }
            ReadRange();
            StartOperation(kVerifyChip);
            break;
        case 138:
            ReadRange();
            StartOperation(kBlankCheck);
            break;
        case 139:
            ShowMemoryCommand(window);
            break;
        case 140:
            ReadRange();
            StartOperation(kChipChecksum);
            break;
        case 141:
            BufferChecksumCommand(window);
            break;
        case 142:
            StartOperation(kReadProtect);
            break;
        case 143:
            StartOperation(kEraseMtp);
            break;
        case 144:
            StartOperation(kLdcProtect);
            break;
        case 145:
            StartOperation(kHwWriteProtect);
            break;
        case 146:
            StartOperation(kChooseAndLoadCodeFile);
            break;
        case 148:
            StartOperation(kLoadCodeFile);
            break;
        case 149:
            ReadRange();
            StartOperation(kCopyChipToImage);
            break;
        case 151:
            ReadRange();
            StartOperation(kSaveHexFile);
            break;
        case 154:
            window.EndWindow();
            break;
        case 160:
            StartOperation(kShowPagePrevious);
            break;
        case 161:
            StartOperation(kShowPageNext);
            break;
        case 163:
            StartOperation(kShowPageTyped);
            break;
        case 165:
            SelectView(window, 165, kShowPageImage);
            break;
        case 166:
            SelectView(window, 166, kShowPageChip);
            break;
        case 167:
            StartOperation(kShowPageMode);
            break;
        case 168:
            window.ShowMemoryView(false);
            window.SetStatusText(QString::fromUtf8(kChooseOperationText));
            break;
        case 171:
            ShowCountersAsMarked(window);
            break;
        case 172:
            ClearCounters(window);
            break;
        case 173:
            OpenCounterSettings(window);
            break;
        case 174:
            if (window.IsMarked(174)) {
                AutoFunc.fetch_or(kFuncBuzzerOn);
            } else {
                AutoFunc.fetch_and(~kFuncBuzzerOn);
            }
            break;
        case 175:
            TogglePausedCounting(window);
            break;
        default:
            break;  // option boxes, fast mode, labels: their mark is their whole effect
    }
}

}  // namespace koru
