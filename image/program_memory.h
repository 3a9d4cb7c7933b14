#pragma once

// The PC-side programming image: 1 MiB of code for the chip, the current address range taken
// from the window's address fields, and the checksum state the chip operations hand to the
// programmer.

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace koru {

inline constexpr std::uint32_t kImageSize = 0x100000;
inline constexpr std::uint8_t kBlankByte = 0xFF;

// One byte per address, index = address. Writers take turns: the operation worker, the
// window's thread only while no worker runs (BusyFlag), and the reset listener, which is only
// started while no worker runs.
extern std::array<std::uint8_t, kImageSize> ProgramMemory;

// Current range, both ends inclusive.
extern std::atomic<std::uint32_t> StartAddress;
extern std::atomic<std::uint32_t> EndAddress;

// The range over which the checksum field was last computed.
struct AddressRange {
    std::uint32_t start;
    std::uint32_t end;
    bool operator==(const AddressRange&) const = default;
};
AddressRange GetChecksumRange();
void SetChecksumRange(AddressRange range);

// The image holds code that may be programmed.
extern std::atomic<int> CodeLoadedFlag;
// Chip contents were copied into the image since the last HEX/OBJ load.
extern std::atomic<int> ImageOverwrittenFlag;

// True when first..last is a non-empty range inside the image. Operations that read or write
// the image over the range refuse any other: an address field holding a control character
// reads as 0xFFFFFFFF.
bool RangeInImage(std::uint32_t first, std::uint32_t last);
inline constexpr char kRangeOutsideImageText[] = "地址超出范围!";
// The refusal every such operation gives: when start..end is not a range inside the image,
// sets FailureFlag, reports kRangeOutsideImageText as a refusal and returns true; otherwise
// changes nothing and returns false.
bool RefuseRangeOutsideImage(std::uint32_t start, std::uint32_t end);

// Sets every byte of the image to 0xFF.
void BlankProgramMemory();

// The image state at start-up: blank image, range 0..0, checksum range 0..0x1FFF, both flags
// clear. The window writes its own start-up field texts.
void ResetProgramMemoryState();

// The 16-bit sum of the image bytes first..last inclusive, added as unsigned bytes modulo
// 65536; 0 when first > last. Addresses beyond the image are not read.
std::uint16_t SumImageRange(std::uint32_t first, std::uint32_t last);

// The same 16-bit sum over count bytes anywhere (a job's image, say).
std::uint16_t SumOfBytes(const std::uint8_t* bytes, std::size_t count);

// An address as ReadAddressRange reads a field's text (an empty text reads as "0000");
// nothing when it holds a character outside HexCharSet.
std::optional<std::uint32_t> ParseAddressText(std::string_view text);

// Reads the start and end address fields into StartAddress and EndAddress (only the last four
// characters of each count). An empty field is rewritten as "0000". When start >= end the end
// becomes the start and its field is rewritten. Returns 0, or -1 when a field holds a
// character outside HexCharSet: the fields read before it keep their new values.
int ReadAddressRange();

// Operation code 14: sums the range, shows it in the checksum field and remembers the range.
void BufferChecksum();

// The F8 key: eight pseudo-random bytes at 0x1FF0..0x1FF7, range 0..0x1FFF and its checksum.
// Does nothing while an operation runs, since the worker reads the image without a lock.
void FillRandomSequence();

}  // namespace koru
