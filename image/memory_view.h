#pragma once

// The memory view: 256 bytes of the programming image or of the chip at a time, sixteen rows
// of sixteen cells, as hexadecimal pairs or ASCII characters; and the rule by which one cell of
// the image is edited. Pages are drawn on the operation worker through the window services;
// the cell rule runs on the window's thread.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace koru {

// Operation codes of the page display (any code from 30 to 255 draws a page).
inline constexpr std::uint8_t kShowPageEnter = 30;     // "显示内存数据": the current page
inline constexpr std::uint8_t kShowPageTyped = 31;     // "设 置": the address in the field
inline constexpr std::uint8_t kShowPageMode = 32;      // "ASCII格式显示": same page
inline constexpr std::uint8_t kShowPagePrevious = 33;  // "上一页"
inline constexpr std::uint8_t kShowPageNext = 34;      // "下一页"
inline constexpr std::uint8_t kShowPageImage = 35;     // "编程内存代码视图": same page
inline constexpr std::uint8_t kShowPageChip = 36;      // "芯片代码视图": same page

inline constexpr std::uint32_t kPageBytes = 0x100;
inline constexpr std::uint32_t kPageRowBytes = 16;
inline constexpr std::uint32_t kLastPageAddress = 0xFFF00;  // the highest first address of a page
inline constexpr unsigned kViewAddressDigits = 5;           // row labels and the address field

// The first address of the page shown; a multiple of 16 in 0..kLastPageAddress.
extern std::atomic<std::uint32_t> DisplayAddress;

// Back to the first page (the list's one-time preparation).
void ResetDisplayAddress();

// Reads the chip's bytes first..last into buffer[0 .. last - first] (capacity bytes of room); the
// outcome is FailureFlag. The image layer does not know how a chip is reached: the operation
// layer hands this in.
using ChipBlockReader = void (*)(std::uint8_t* buffer, std::size_t capacity, std::uint32_t first,
                                 std::uint32_t last);

// Draws the page for an operation code 30..255: works out the new DisplayAddress from the code,
// reads the page from the image or, through readChip, the chip (whichever the view shows) and
// writes it, the
// address field and the status line through the window services. A display-address field that
// is not a hexadecimal address sets FailureFlag with "显示地址设置错误!" and leaves the page
// and DisplayAddress as they were.
void ShowMemoryPage(std::uint8_t code, ChipBlockReader readChip);

// Text of one cell: two hexadecimal digits, or in ASCII mode the printable character
// (0x21..0x7E) and the empty text for every other byte.
std::string MemoryCellText(std::uint8_t byte, bool ascii);

// The address of a cell from its row's label and its column (1..16) as five-digit text, or
// nothing when the row has no label (an unused row) or the column is the address column.
std::optional<std::string> MemoryCellAddressText(std::string_view rowLabel, int column);

// Stores an edited cell value at address in ProgramMemory: value is fitted to two digits (an
// empty value gives 00, a longer one keeps its last two). Returns the cell's new text, or
// nothing, storing nothing, when value is not hexadecimal or address lies outside the image.
std::optional<std::string> StoreMemoryCell(std::string_view addressText, std::string_view value);

}  // namespace koru
