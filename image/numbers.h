#pragma once

// Number and text helpers. Every hexadecimal or decimal text of the system is read and
// written through these, so that padding, case and error values stay the same everywhere.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace koru {

// The characters that count as "hexadecimal" in every check of the system: the 22 digits of
// both cases followed by BEL, LF, CR and TAB. The four control characters pass such checks
// and then make ParseNumber fail, which callers rely on as it stands.
inline constexpr std::string_view HexCharSet{"0123456789ABCDEFabcdef\a\n\r\t", 26};

// Value of text in radix 2, 10 or 16, computed modulo 2^32 (longer texts wrap).
// Returns 0 for an empty text and 0xFFFFFFFF as soon as a character is not a digit of the
// radix (the text "FFFFFFFF" in radix 16 is indistinguishable from an error).
std::uint32_t ParseNumber(std::string_view text, unsigned radix);

// Writes value in radix 2, 10 or 16 (upper-case digits) into out[0..capacity), zero-filled
// first. minDigits 0..254 pads with leading '0' to that many digits; 255 means no padding
// (and "0" for the value 0). Returns false, leaving out zero-filled, for another radix or
// when the digits do not fit. No terminator is written beyond the zero fill: pass a
// capacity larger than the longest text expected.
bool FormatNumber(std::uint32_t value, char* out, std::size_t capacity, std::uint8_t radix,
                  std::uint8_t minDigits);

// The same through a 40-character buffer; returns the text, or "" when FormatNumber fails.
std::string FormatNumber(std::uint32_t value, std::uint8_t radix, std::uint8_t minDigits);

// Shorthands for the system's texts: upper-case hexadecimal and decimal, zero-padded to at
// least minDigits.
inline std::string Hex(std::uint32_t value, std::uint8_t minDigits) {
    return FormatNumber(value, 16, minDigits);
}
inline std::string Decimal(std::uint32_t value, std::uint8_t minDigits) {
    return FormatNumber(value, 10, minDigits);
}

// True when every character of text occurs in set (an empty text is always true).
bool AllCharsIn(std::string_view text, std::string_view set);

// Writes text right-aligned in width characters into out: padded with '0' on the left when
// shorter, reduced to its last width characters when longer. Returns false with out empty
// when text is longer than 40 characters. width is at most 19.
bool FitDigits(std::string_view text, std::string& out, unsigned width);

}  // namespace koru
