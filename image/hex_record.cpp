#include "image/hex_record.h"

#include <array>
#include <cstring>

#include "image/numbers.h"

namespace koru {
namespace {

constexpr std::uint8_t kNotAByte = 0xFF;  // what a pair that is not two digits reads as
constexpr std::uint16_t kNoDigit = 0x100;

// Membership in HexCharSet for every character, so that a line is checked in one pass.
constexpr std::array<bool, 256> kInHexCharSet = [] {
    std::array<bool, 256> table{};
    for (const char c : HexCharSet) {
        table[static_cast<unsigned char>(c)] = true;
    }
    return table;
}();

// The value ParseNumber gives each single character in radix 16, or kNoDigit.
const std::array<std::uint16_t, 256> kDigitValue = [] {
    std::array<std::uint16_t, 256> table{};
    for (unsigned c = 0; c < table.size(); ++c) {
        const char text[1] = {static_cast<char>(c)};
        const std::uint32_t value = ParseNumber(std::string_view(text, 1), 16);
        table[c] = value <= 0xF ? static_cast<std::uint16_t>(value) : kNoDigit;
    }
    return table;
}();

// The two upper-case digits of every byte value, as FormatNumber writes them.
const std::array<std::array<char, 2>, 256> kByteDigits = [] {
    std::array<std::array<char, 2>, 256> table{};
    for (unsigned value = 0; value < table.size(); ++value) {
        char text[3];
        FormatNumber(value, text, sizeof text, 16, 2);
        table[value] = {text[0], text[1]};
    }
    return table;
}();

std::uint16_t Digit(char c) {
    return kDigitValue[static_cast<unsigned char>(c)];
}

std::uint8_t PairValue(char high, char low) {
    const std::uint16_t h = Digit(high);
    const std::uint16_t l = Digit(low);
    return h == kNoDigit || l == kNoDigit ? kNotAByte : static_cast<std::uint8_t>(h * 16 + l);
}

char* PutByte(char* out, std::uint8_t value) {
    std::memcpy(out, kByteDigits[value].data(), 2);
    return out + 2;
}

// Characters of the longest record: ':', the four head bytes, 255 data bytes and the checksum
// as pairs, CR LF.
constexpr std::size_t kLongestRecordChars = 1 + 2 * (4 + 255 + 1) + 2;

// Appends ':' and the pairs of bytes followed by their checksum and CR LF. The line is made on
// the stack (the writer's hot path) and appended in one piece.
void AppendRecord(std::string& out, std::span<const std::uint8_t> head,
                  std::span<const std::uint8_t> data) {
    const std::size_t length = 1 + 2 * (head.size() + data.size() + 1) + 2;
    char onStack[kLongestRecordChars];
    std::string onHeap;  // only for a caller that breaks the 255-byte limit
    if (length > sizeof onStack) {
        onHeap.resize(length);
    }
    char* const line = length > sizeof onStack ? onHeap.data() : onStack;
    char* p = line;
    *p++ = ':';
    std::uint8_t sum = 0;
    for (const std::uint8_t byte : head) {
        sum = static_cast<std::uint8_t>(sum + byte);
        p = PutByte(p, byte);
    }
    for (const std::uint8_t byte : data) {
        sum = static_cast<std::uint8_t>(sum + byte);
        p = PutByte(p, byte);
    }
    p = PutByte(p, static_cast<std::uint8_t>(0x100 - sum));
    *p++ = '\r';
    *p = '\n';
    out.append(line, length);
}

}  // namespace

bool CutToLastColon(std::string_view& line) {
    const std::size_t colon = line.rfind(':');
    if (colon == std::string_view::npos) {
        return false;
    }
    line.remove_prefix(colon);
    return true;
}

bool RecordLengthOk(std::string_view record) {
    if (record.size() < kShortestRecordChars) {
        return false;
    }
    const std::size_t count = PairValue(record[1], record[2]);
    return record.size() >= 2 * count + kShortestRecordChars;
}

std::size_t HexPairsToBytes(std::string_view text, std::span<std::uint8_t> out) {
    std::size_t written = 0;
    std::size_t pos = 0;
    while (written < out.size() && pos < text.size()) {
        if (pos + 1 < text.size()) {
            out[written++] = PairValue(text[pos], text[pos + 1]);
        } else {
            const std::uint16_t single = Digit(text[pos]);
            out[written++] = single == kNoDigit ? kNotAByte : static_cast<std::uint8_t>(single);
        }
        pos += 2;
    }
    return written;
}

RecordStatus ParseRecordLine(std::string_view line,
                             std::span<std::uint8_t, kRecordBufferBytes> buffer,
                             HexRecord& record) {
    // A line that opens a record but ends before its count says is a cut record: lost data.
    const bool opensRecord = !line.empty() && line.front() == ':';
    if (line.empty() || !CutToLastColon(line)) {
        return RecordStatus::Skipped;
    }
    const std::string_view pairs = line.substr(1);
    for (const char c : pairs) {
        if (!kInHexCharSet[static_cast<unsigned char>(c)]) {
            return RecordStatus::Skipped;
        }
    }
    if (!RecordLengthOk(line)) {
        return opensRecord ? RecordStatus::Truncated : RecordStatus::Skipped;
    }
    // The length rule guarantees at least n + 5 pairs, and n + 5 <= 260 fits the buffer.
    const std::size_t converted = HexPairsToBytes(pairs, buffer);
    const std::size_t count = buffer[0];
    std::uint8_t sum = 0;
    for (std::size_t i = 0; i < count + kRecordOverhead; ++i) {
        sum = static_cast<std::uint8_t>(sum + buffer[i]);
    }
    if (sum != 0) {
        return RecordStatus::BadChecksum;
    }
    record.type = buffer[3];
    record.offset = static_cast<std::uint16_t>(buffer[1] << 8 | buffer[2]);
    record.data = std::span<const std::uint8_t>(buffer.data() + 4, count);
    const std::uint8_t high = converted > 4 ? buffer[4] : 0;
    const std::uint8_t low = converted > 5 ? buffer[5] : 0;
    record.segmentValue = static_cast<std::uint16_t>(high << 8 | low);
    return RecordStatus::Ok;
}

void AppendDataRecord(std::string& out, std::uint16_t offset, std::span<const std::uint8_t> data) {
    const std::uint8_t head[] = {static_cast<std::uint8_t>(data.size()),
                                 static_cast<std::uint8_t>(offset >> 8),
                                 static_cast<std::uint8_t>(offset & 0xFF), kRecordData};
    AppendRecord(out, head, data);
}

void AppendSegmentRecord(std::string& out, std::uint16_t segment) {
    const std::uint8_t head[] = {2, 0, 0, kRecordSegment};
    const std::uint8_t value[] = {static_cast<std::uint8_t>(segment >> 8),
                                  static_cast<std::uint8_t>(segment & 0xFF)};
    AppendRecord(out, head, value);
}

}  // namespace koru
