#include "image/program_memory.h"

#include <cstdlib>
#include <ctime>
#include <mutex>
#include <optional>
#include <string>

#include "core/services.h"
#include "core/shared_state.h"
#include "core/step_report.h"
#include "image/numbers.h"

namespace koru {

std::array<std::uint8_t, kImageSize> ProgramMemory = [] {
    std::array<std::uint8_t, kImageSize> image;
    image.fill(kBlankByte);
    return image;
}();

std::atomic<std::uint32_t> StartAddress{0};
std::atomic<std::uint32_t> EndAddress{0};
std::atomic<int> CodeLoadedFlag{0};
std::atomic<int> ImageOverwrittenFlag{0};

namespace {

// Longest text read from an address field.
constexpr std::size_t kAddressFieldChars = 127;
constexpr unsigned kAddressDigits = 4;

// The random bytes go into the eight cells below the top of the default 8 KiB range.
constexpr std::uint32_t kRandomFirst = 0x1FF0;
constexpr std::uint32_t kRandomCount = 8;
constexpr std::uint32_t kDefaultEnd = 0x1FFF;

std::mutex checksumRangeMutex;
AddressRange checksumRange{0, kDefaultEnd};

// Reads one address field as ReadAddressRange does; false when it is not hexadecimal.
bool ReadAddressField(TextField field, std::uint32_t& value) {
    std::string text = Window().ReadField(field);
    if (text.empty()) {
        text = "0000";
        Window().WriteField(field, text);
    }
    const std::optional<std::uint32_t> address = ParseAddressText(text);
    if (!address) {
        return false;
    }
    value = *address;
    return true;
}

}  // namespace

std::optional<std::uint32_t> ParseAddressText(std::string_view text) {
    std::string kept(text.substr(0, kAddressFieldChars));
    if (kept.empty()) {
        kept = "0000";
    }
    std::string fitted;
    FitDigits(kept, fitted, kAddressDigits);
    if (!AllCharsIn(fitted, HexCharSet)) {
        return std::nullopt;
    }
    return ParseNumber(fitted, 16);
}

AddressRange GetChecksumRange() {
    std::lock_guard lock(checksumRangeMutex);
    return checksumRange;
}

void SetChecksumRange(AddressRange range) {
    std::lock_guard lock(checksumRangeMutex);
    checksumRange = range;
}

bool RangeInImage(std::uint32_t first, std::uint32_t last) {
    return first <= last && last < kImageSize;
}

bool RefuseRangeOutsideImage(std::uint32_t start, std::uint32_t end) {
    if (RangeInImage(start, end)) {
        return false;
    }
    FailureFlag = 1;
    ReportRefusal(kRangeOutsideImageText);
    return true;
}

void BlankProgramMemory() {
    ProgramMemory.fill(kBlankByte);
}

void ResetProgramMemoryState() {
    BlankProgramMemory();
    StartAddress = 0;
    EndAddress = 0;
    SetChecksumRange({0, kDefaultEnd});
    CodeLoadedFlag = 0;
    ImageOverwrittenFlag = 0;
}

std::uint16_t SumImageRange(std::uint32_t first, std::uint32_t last) {
    if (first > last || first >= kImageSize) {
        return 0;
    }
    if (last >= kImageSize) {
        last = kImageSize - 1;
    }
    return SumOfBytes(ProgramMemory.data() + first, last - first + 1);
}

std::uint16_t SumOfBytes(const std::uint8_t* bytes, std::size_t count) {
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i < count; ++i) {
        sum += bytes[i];
    }
    return static_cast<std::uint16_t>(sum);
}

int ReadAddressRange() {
    std::uint32_t start = 0;
    if (!ReadAddressField(TextField::StartAddress, start)) {
        return -1;
    }
    StartAddress = start;
    std::uint32_t end = 0;
    if (!ReadAddressField(TextField::EndAddress, end)) {
        return -1;
    }
    EndAddress = end;
    if (start >= end) {
        EndAddress = start;
        Window().WriteField(TextField::EndAddress, Hex(start, 4));
    }
    return 0;
}

void BufferChecksum() {
    Window().SetStatusLine("请稍候,得到编程内存检查和......");
    FailureFlag = 0;
    const AddressRange range{StartAddress, EndAddress};
    if (RefuseRangeOutsideImage(range.start, range.end)) {
        return;
    }
    const std::string text = Hex(SumImageRange(range.start, range.end), 4);
    Window().WriteField(TextField::Checksum, text);
    SetChecksumRange(range);
    ReportSuccess("编程内存检查和 = " + text);
}

void FillRandomSequence() {
    if (BusyFlag != 0) {
        return;
    }
    std::srand(static_cast<unsigned>(std::time(nullptr)));
    std::string list;
    for (std::uint32_t i = 0; i < kRandomCount; ++i) {
        const auto byte = static_cast<std::uint8_t>(std::rand() & 0xFF);
        ProgramMemory[kRandomFirst + i] = byte;
        list += Hex(byte, 255) + ",";
    }
    Window().SetStatusLine("随机数序列已产生,并填表入内存代码中,序列为: " + list);
    Window().WriteField(TextField::EndAddress, "1FFF");
    StartAddress = 0;
    EndAddress = kDefaultEnd;
    Window().WriteField(TextField::Checksum, Hex(SumImageRange(0, kDefaultEnd), 4));
    SetChecksumRange({0, kDefaultEnd});
}

}  // namespace koru
