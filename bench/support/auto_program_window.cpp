#include "bench/support/auto_program_window.h"

namespace koru::bench {

ChoiceState AutoProgramWindow::GetChoice(Choice choice) {
    switch (choice) {
        case Choice::SerialMtp:
        case Choice::DataSam:
        case Choice::Vdd50:
        case Choice::FastMode:
        case Choice::AutoVerify:
            return {true, true};
        case Choice::AutoBlankCheck:
            return {blankCheck_, true};
        default:
            return {false, true};
    }
}

std::string AutoProgramWindow::ReadField(TextField field) {
    return field == TextField::Checksum ? checksum : std::string();
}

}  // namespace koru::bench
