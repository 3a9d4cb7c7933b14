#include "window/settings.h"

#include <QString>
#include <QWidget>
#include <algorithm>
#include <array>
#include <cstdint>

#include "core/settings_words.h"
#include "core/shared_state.h"
#include "link/command_block.h"
#include "link/connection.h"
#include "platform/com_ports.h"
#include "platform/settings_store.h"
#include "window/programmer_dlg.h"
#include "window/qt_window_services.h"

namespace koru {
namespace {

constexpr std::size_t kStringBuffer = 8;  // the read buffer, terminating zero included

// Controls read and marked here.
constexpr int kIdCom1 = 110;
constexpr int kIdChipOtp = 114;
constexpr int kIdChipMtp = 115;
constexpr int kIdVdd50 = 116;
constexpr int kIdVdd33 = 117;
constexpr int kIdDataSam = 118;
constexpr int kIdDataRisc = 119;
constexpr int kIdDataArm = 120;
constexpr int kIdChipVoltage = 135;
constexpr int kIdShowCounters = 171;
constexpr int kIdBuzzer = 174;
// Buttons that locked production mode disables for the whole run.
constexpr std::array kLockedButtons{149, 151, 139};

constexpr std::array<const char*, 4> kPortValues{"com1", "com2", "com3", "com4"};
constexpr std::array<const char*, 4> kPortNames{"COM1", "COM2", "COM3", "COM4"};

bool MarkedAndEnabled(const CProgrammerDlg& window, int id) {
    const QWidget* control = window.Control(id);
    return window.IsMarked(id) && control != nullptr && control->isEnabled();
}

void LoadDataType(CProgrammerDlg& window, const std::optional<std::string>& data) {
    if (data == "arm") {
        window.SetMarked(kIdDataArm, true);
    } else if (data == "risc") {
        window.SetMarked(kIdDataRisc, true);
    } else {
        window.SetMarked(kIdDataSam, true);
    }
}

void LoadOptionMarks(CProgrammerDlg& window) {
    const std::uint32_t autoFunc = AutoFunc.load();
    const std::uint32_t marks = OptionMarksAfterLoad(AutoOptions.load(), autoFunc);
    for (const AutoOptionBox& box : kAutoOptionBoxes) {
        if ((marks & box.bit) != 0) {
            window.SetMarked(ChoiceControlId(box.choice), true);
        }
    }
    if ((autoFunc & kFuncLockedProduction) != 0) {
        for (int id : kLockedButtons) {
            window.Control(id)->setEnabled(false);
        }
    }
    if ((autoFunc & kFuncBuzzerOn) != 0) {
        window.SetMarked(kIdBuzzer, true);
    }
}

// The codes the command block refresh would take from the window, without writing the block.
// Of the data types and Vdd values only a marked, enabled choice counts; a selection no choice
// sets falls back to the first choice, the only one the window lets the operator keep.
std::string SavedDataType(const CProgrammerDlg& window) {
    std::string value = "sam";
    if (MarkedAndEnabled(window, kIdDataRisc)) {
        value = "risc";
    }
    if (MarkedAndEnabled(window, kIdDataArm)) {
        value = "arm";
    }
    return value;
}

std::string SavedChipKind(const CProgrammerDlg& window) {
    std::string value = "smtp";
    if (window.IsMarked(kIdChipOtp)) {
        value = "sotp";
    }
    if (window.IsMarked(kIdChipMtp)) {
        value = "smtp";
    }
    return value;
}

std::string SavedVdd(const CProgrammerDlg& window) {
    return MarkedAndEnabled(window, kIdVdd33) ? "3.3V" : "5.0V";
}

std::uint32_t SavedAutoOptions(const CProgrammerDlg& window) {
    std::uint32_t word = 0;
    for (const AutoOptionBox& box : kAutoOptionBoxes) {
        if (MarkedAndEnabled(window, ChoiceControlId(box.choice))) {
            word |= box.bit;
        }
    }
    return word;
}

std::string SavedPort(const CProgrammerDlg& window) {
    for (std::size_t i = 0; i < kPortValues.size(); ++i) {
        if (window.IsMarked(kIdCom1 + static_cast<int>(i))) {
            return kPortValues[i];
        }
    }
    return "com0";
}

}  // namespace

std::optional<std::string> ReadShortString(const SettingsStore& store, const char* name) {
    std::optional<std::string> value = store.GetString(name);
    if (!value) {
        return std::nullopt;
    }
    value->resize(std::min(value->size(), value->find('\0')));
    if (value->size() >= kStringBuffer) {
        return std::nullopt;  // does not fit the buffer: the read fails
    }
    return value;
}

void LoadSettings(CProgrammerDlg& window) {
    SettingsStore store(SettingsStore::PathForKey(kSettingsKey));
    store.Load();  // a missing or corrupt file reads as an empty key

    LoadDataType(window, ReadShortString(store, kValueData));

    const std::optional<std::uint32_t> autoFunc = store.GetNumber(kValueAutoFunc);
    std::uint32_t func = autoFunc ? *autoFunc : AutoFunc.load() | kDefaultAutoFunc;
    func = (func & ~kFuncCountingPaused) | kFuncAlwaysSet;
    AutoFunc = func;
    window.SetMarked(kIdShowCounters, true);
    window.SetWindowRegion(kRegionCountersShown);

    const std::optional<std::uint32_t> autoOptions = store.GetNumber(kValueAuto);
    AutoOptions = autoOptions ? *autoOptions : AutoOptions.load() | kDefaultAutoOptions;
    LoadOptionMarks(window);

    const std::optional<std::uint32_t> autoCount = store.GetNumber(kValueAutoCount);
    AutoCount = (autoCount ? *autoCount : AutoCount.load()) | kAutoCountAlways;

    const int chip = ReadShortString(store, kValueChip) == "sotp" ? kIdChipOtp : kIdChipMtp;
    window.SetMarked(chip, true);
    window.ApplyChipKind(chip);

    const bool vdd33 = ReadShortString(store, kValueVdd) == "3.3V";
    window.SetMarked(vdd33 ? kIdVdd33 : kIdVdd50, true);
    window.SetFieldText(kIdChipVoltage, vdd33 ? QStringLiteral("3.3") : QStringLiteral("5.0"));

    LoadComMappings(store);  // before the probe: the saved port may be mapped
    const std::optional<std::string> com = ReadShortString(store, kValueCom);
    for (std::size_t i = 0; i < kPortValues.size(); ++i) {
        if (com == kPortValues[i]) {
            window.SetMarked(kIdCom1 + static_cast<int>(i), true);
            ProbePort(kPortNames[i]);
            return;
        }
    }
    window.SetStatusText(QString::fromUtf8(kNoPortText));
}

void SaveSettings(const CProgrammerDlg& window) {
    SettingsStore store(SettingsStore::PathForKey(kSettingsKey));
    store.Load();  // values of others under the key stay as they are
    store.SetString(kValueCom, SavedPort(window));
    store.SetString(kValueData, SavedDataType(window));
    store.SetString(kValueChip, SavedChipKind(window));
    store.SetNumber(kValueAuto, SavedAutoOptions(window));
    store.SetNumber(kValueAutoCount, AutoCount.load());
    store.SetNumber(kValueAutoFunc, AutoFunc.load());
    store.SetString(kValueVdd, SavedVdd(window));
    store.Save();  // on failure the old file stays as it was
}

}  // namespace koru
