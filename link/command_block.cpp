#include "link/command_block.h"

#include <string>

#include "core/services.h"
#include "core/shared_state.h"
#include "image/numbers.h"
#include "image/program_memory.h"

namespace koru {

std::array<std::uint8_t, kCommandBlockSize> CommandBlock{};

namespace {

constexpr std::size_t kChecksumFieldChars = 9;  // read as hexadecimal, low 16 bits used

bool MarkedAndAvailable(Choice choice) {
    const ChoiceState state = Window().GetChoice(choice);
    return state.marked && state.available;
}

}  // namespace

std::uint8_t OperationCode() {
    return CommandBlock[kBlockCode];
}

void SetOperationCode(std::uint8_t code) {
    CommandBlock[kBlockCode] = code;
}

void SetCommandRange(std::uint32_t first, std::uint32_t last) {
    CommandBlock[kBlockStart] = static_cast<std::uint8_t>(first >> 16);
    CommandBlock[kBlockStart + 1] = static_cast<std::uint8_t>(first >> 8);
    CommandBlock[kBlockStart + 2] = static_cast<std::uint8_t>(first);
    CommandBlock[kBlockEnd] = static_cast<std::uint8_t>(last >> 16);
    CommandBlock[kBlockEnd + 1] = static_cast<std::uint8_t>(last >> 8);
    CommandBlock[kBlockEnd + 2] = static_cast<std::uint8_t>(last);
}

void RefreshDataType() {
    constexpr std::pair<Choice, std::uint8_t> kTypes[] = {
        {Choice::DataSam, 1}, {Choice::DataCalmRisc, 2}, {Choice::DataArm, 3}};
    for (const auto& [choice, code] : kTypes) {
        if (MarkedAndAvailable(choice)) {
            CommandBlock[kBlockDataType] = code;
        }
    }
}

void RefreshChipKind() {
    // Availability does not matter here: the chip-kind radios are never disabled.
    if (Window().GetChoice(Choice::SerialOtp).marked) {
        CommandBlock[kBlockChipKind] = kChipOtp;
    }
    if (Window().GetChoice(Choice::SerialMtp).marked) {
        CommandBlock[kBlockChipKind] = kChipMtp;
    }
}

void RefreshVdd() {
    if (MarkedAndAvailable(Choice::Vdd50)) {
        CommandBlock[kBlockVdd] = 1;
    }
    if (MarkedAndAvailable(Choice::Vdd33)) {
        CommandBlock[kBlockVdd] = 2;
    }
}

void RefreshAutoOptions() {
    std::uint32_t word = 0;
    for (const AutoOptionBox& box : kAutoOptionBoxes) {
        if (MarkedAndAvailable(box.choice)) {
            word |= box.bit;
        }
    }
    AutoOptions = word;
}

void RefreshCommandBlock() {
    RefreshDataType();
    RefreshChipKind();
    RefreshVdd();
    RefreshAutoOptions();
    CommandBlock[kBlockAutoLow] = static_cast<std::uint8_t>(AutoOptions.load());
    CommandBlock[0] = 'Z';
    CommandBlock[1] = 'E';
    CommandBlock[2] = 'P';
    CommandBlock[3] = 'H';

    std::string checksum = Window().ReadField(TextField::Checksum);
    if (checksum.size() > kChecksumFieldChars) {
        checksum.resize(kChecksumFieldChars);
    }
    const std::uint32_t value = ParseNumber(checksum, 16);
    CommandBlock[kBlockChecksum] = static_cast<std::uint8_t>(value >> 8);
    CommandBlock[kBlockChecksum + 1] = static_cast<std::uint8_t>(value);

    for (std::size_t i = 0; i < 4; ++i) {
        CommandBlock[kBlockImageBytes + i] = ProgramMemory[kBlockImageBytesAddress + i];
    }
}

}  // namespace koru
