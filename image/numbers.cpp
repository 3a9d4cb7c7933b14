#include "image/numbers.h"

#include <algorithm>
#include <cstring>

namespace koru {
namespace {

constexpr std::uint32_t kParseError = 0xFFFFFFFF;
constexpr std::size_t kFitWorkLimit = 40;  // FitDigits' work text: width zeros + width chars

// Digit value of c in radix, or -1 when c is not one of its digits.
int DigitValue(char c, unsigned radix) {
    int value = -1;
    if (c >= '0' && c <= '9') {
        value = c - '0';
    } else if (radix == 16 && c >= 'a' && c <= 'f') {
        value = c - 'a' + 10;
    } else if (radix == 16 && c >= 'A' && c <= 'F') {
        value = c - 'A' + 10;
    }
    return (value >= 0 && static_cast<unsigned>(value) < radix) ? value : -1;
}

}  // namespace

std::uint32_t ParseNumber(std::string_view text, unsigned radix) {
    std::uint32_t result = 0;
    std::uint32_t multiplier = 1;
    for (auto it = text.rbegin(); it != text.rend(); ++it) {
        const int digit = DigitValue(*it, radix);
        if (digit < 0) {
            return kParseError;
        }
        result += static_cast<std::uint32_t>(digit) * multiplier;
        multiplier *= radix;
    }
    return result;
}

bool FormatNumber(std::uint32_t value, char* out, std::size_t capacity, std::uint8_t radix,
                  std::uint8_t minDigits) {
    std::memset(out, 0, capacity);
    if (radix != 2 && radix != 10 && radix != 16) {
        return false;
    }
    static constexpr char kDigits[] = "0123456789ABCDEF";
    char reversed[32];
    std::size_t count = 0;
    for (std::uint32_t rest = value; rest != 0; rest /= radix) {
        reversed[count++] = kDigits[rest % radix];
    }
    if (count > capacity) {
        return false;
    }
    if (value == 0 && minDigits == 255) {
        reversed[count++] = '0';
    }
    const std::size_t padding = (minDigits != 255 && minDigits > count) ? minDigits - count : 0;
    if (padding + count > capacity) {
        std::memset(out, 0, capacity);
        return false;
    }
    std::size_t pos = 0;
    for (std::size_t i = 0; i < padding; ++i) {
        out[pos++] = '0';
    }
    while (count > 0) {
        out[pos++] = reversed[--count];
    }
    return true;
}

std::string FormatNumber(std::uint32_t value, std::uint8_t radix, std::uint8_t minDigits) {
    char buffer[kFitWorkLimit + 1];
    if (!FormatNumber(value, buffer, sizeof buffer - 1, radix, minDigits)) {
        return {};
    }
    buffer[kFitWorkLimit] = '\0';
    return std::string(buffer);
}

bool AllCharsIn(std::string_view text, std::string_view set) {
    return std::all_of(text.begin(), text.end(),
                       [set](char c) { return set.find(c) != std::string_view::npos; });
}

bool FitDigits(std::string_view text, std::string& out, unsigned width) {
    out.clear();
    if (text.size() > kFitWorkLimit) {
        return false;
    }
    const std::string_view tail = text.size() > width ? text.substr(text.size() - width) : text;
    std::string work(width, '0');
    work.append(tail);
    out = work.substr(work.size() - width);
    return true;
}

}  // namespace koru
