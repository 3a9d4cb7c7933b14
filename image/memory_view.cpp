#include "image/memory_view.h"

#include <array>

#include "core/services.h"
#include "core/shared_state.h"
#include "image/image_block.h"
#include "image/numbers.h"
#include "image/program_memory.h"

namespace koru {

std::atomic<std::uint32_t> DisplayAddress{0};

namespace {

constexpr std::size_t kPageBufferBytes = 512;  // the read buffer, twice a page
constexpr std::size_t kFieldReadLimit = 99;    // characters of the address field that count
constexpr unsigned kCellDigits = 2;
constexpr std::uint8_t kFirstPrintable = 0x21;
constexpr std::uint8_t kLastPrintable = 0x7E;
constexpr std::uint32_t kParseFailed = 0xFFFFFFFF;

constexpr char kBadDisplayAddress[] = "显示地址设置错误!";
constexpr char kLoadingPage[] = "调入代码......";
constexpr char kShowingRange[] = "当前显示代码区段:  ";

// The address typed into the display-address field, or nothing when it is not one.
std::optional<std::int64_t> TypedAddress() {
    std::string typed = Window().ReadField(TextField::DisplayAddress);
    if (typed.size() > kFieldReadLimit) {
        typed.resize(kFieldReadLimit);
    }
    std::string digits;
    if (!FitDigits(typed, digits, kViewAddressDigits) || !AllCharsIn(digits, HexCharSet)) {
        return std::nullopt;
    }
    // Control characters pass the character check but are no digits.
    const std::uint32_t value = ParseNumber(digits, 16);
    if (value == kParseFailed) {
        return std::nullopt;
    }
    Window().WriteField(TextField::DisplayAddress, Hex(value, kViewAddressDigits));
    return value;
}

}  // namespace

void ResetDisplayAddress() {
    DisplayAddress = 0;
}

std::string MemoryCellText(std::uint8_t byte, bool ascii) {
    if (!ascii) {
        return Hex(byte, kCellDigits);
    }
    if (byte < kFirstPrintable || byte > kLastPrintable) {
        return {};
    }
    return std::string(1, static_cast<char>(byte));
}

void ShowMemoryPage(std::uint8_t code, ChipBlockReader readChip) {
    std::int64_t address = DisplayAddress.load();
    switch (code) {
        case kShowPageTyped: {
            const std::optional<std::int64_t> typed = TypedAddress();
            if (!typed) {
                FailureFlag = 1;
                Window().SetStatusLine(kBadDisplayAddress);
                return;
            }
            address = *typed;
            break;
        }
        case kShowPagePrevious:
            address -= kPageBytes;
            break;
        case kShowPageNext:
            address += kPageBytes;
            break;
        default:
            break;
    }
    if (address < 0) {
        address = 0;
    } else if (address > kLastPageAddress) {
        address = kLastPageAddress;
    }
    const std::uint32_t first = static_cast<std::uint32_t>(address) & ~(kPageRowBytes - 1);
    DisplayAddress = first;

    MemoryPageText page;
    for (std::uint32_t row = 0; row < page.rowLabels.size(); ++row) {
        page.rowLabels[row] = Hex(first + row * kPageRowBytes, kViewAddressDigits);
    }
    const bool chip = Window().GetChoice(Choice::ChipView).marked;
    const bool ascii = Window().GetChoice(Choice::AsciiView).marked;

    Window().SetStatusLine(kLoadingPage);
    if (chip) {
        // A chip read takes a while: the new page's row labels show at once, over empty cells,
        // rather than the old page's labels until the read ends.
        Window().ShowMemoryPage(page);
    }
    std::array<std::uint8_t, kPageBufferBytes> buffer{};
    const int failedBefore = FailureFlag.load();
    FailureFlag = 0;
    const std::uint32_t last = first + kPageBytes - 1;
    if (chip) {
        readChip(buffer.data(), buffer.size(), first, last);
    } else {
        CopyImageBlock(buffer.data(), first, last);  // a page always fits the buffer
    }
    // A failed read leaves the buffer undefined: the cells stay empty rather than show it.
    const bool readFailed = FailureFlag.load() != 0;
    if (failedBefore != 0) {
        FailureFlag = failedBefore;
    }
    if (!readFailed) {
        for (std::size_t row = 0; row < page.cells.size(); ++row) {
            for (std::size_t column = 0; column < page.cells[row].size(); ++column) {
                page.cells[row][column] =
                    MemoryCellText(buffer[row * kPageRowBytes + column], ascii);
            }
        }
    }
    Window().ShowMemoryPage(page);

    Window().WriteField(TextField::DisplayAddress, Hex(first, kViewAddressDigits));
    Window().SetStatusLine(kShowingRange + Hex(first, kViewAddressDigits) + "~" +
                           Hex(last % kImageSize, kViewAddressDigits));
}

std::optional<std::string> MemoryCellAddressText(std::string_view rowLabel, int column) {
    if (rowLabel.empty() || column < 1 || column > static_cast<int>(kPageRowBytes)) {
        return std::nullopt;
    }
    std::string text(rowLabel.substr(0, rowLabel.size() - 1));
    text += Hex(static_cast<std::uint32_t>(column - 1), 1);
    return text;
}

std::optional<std::string> StoreMemoryCell(std::string_view addressText, std::string_view value) {
    const std::uint32_t address = ParseNumber(addressText, 16);
    if (address >= kImageSize || !AllCharsIn(value, HexCharSet)) {
        return std::nullopt;
    }
    std::string digits;
    if (!FitDigits(value, digits, kCellDigits)) {
        return std::nullopt;
    }
    const std::uint32_t byte = ParseNumber(digits, 16);
    if (byte == kParseFailed) {
        return std::nullopt;  // a control character passed the character check
    }
    ProgramMemory[address] = static_cast<std::uint8_t>(byte);
    return digits;
}

}  // namespace koru
