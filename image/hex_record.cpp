#include "image/hex_record.h"

#include <algorithm>
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

// Each character's class for the record scan: its digit value, whether it is no digit, and
// whether it lies outside HexCharSet, so that one pass both checks and converts a line.
constexpr std::uint8_t kValueMask = 0x0F;
constexpr std::uint8_t kNotDigit = 0x10;
constexpr std::uint8_t kNotInSet = 0x20;
const std::array<std::uint8_t, 256> kCharClass = [] {
    std::array<std::uint8_t, 256> table{};
    for (unsigned c = 0; c < table.size(); ++c) {
        const std::uint16_t digit = kDigitValue[c];
        table[c] = digit == kNoDigit ? kNotDigit : static_cast<std::uint8_t>(digit);
        if (!kInHexCharSet[c]) {
            table[c] |= kNotInSet;
        }
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

// Appends ':' and the pairs of bytes followed by their checksum and CR LF, written straight into
// out's storage (the writer's hot path).
void AppendRecord(std::string& out, std::span<const std::uint8_t> head,
                  std::span<const std::uint8_t> data) {
    const std::size_t length = 1 + 2 * (head.size() + data.size() + 1) + 2;
    const std::size_t at = out.size();
    out.resize(at + length);
    char* p = out.data() + at;
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
}

struct PairScan {
    std::size_t converted = 0;  // bytes written to out
    bool allInHexCharSet = true;
};

// HexPairsToBytes and the HexCharSet check of every character of text, in one pass (the
// reader's hot path).
PairScan ScanPairs(std::string_view text, std::span<std::uint8_t> out) {
    const std::size_t whole = text.size() / 2;
    std::size_t converted = std::min(whole, out.size());
    std::uint8_t classes = 0;
    std::size_t pair = 0;
    for (; pair < converted; ++pair) {
        const std::uint8_t high = kCharClass[static_cast<unsigned char>(text[2 * pair])];
        const std::uint8_t low = kCharClass[static_cast<unsigned char>(text[2 * pair + 1])];
        classes |= high | low;
        out[pair] = ((high | low) & kNotDigit) != 0
                        ? kNotAByte
                        : static_cast<std::uint8_t>((high & kValueMask) << 4 | low);
    }
    for (; pair < whole; ++pair) {  // beyond out the characters are only checked
        classes |= kCharClass[static_cast<unsigned char>(text[2 * pair])] |
                   kCharClass[static_cast<unsigned char>(text[2 * pair + 1])];
    }
    if (text.size() % 2 != 0) {  // a last single character forms a pair by itself
        const std::uint8_t single = kCharClass[static_cast<unsigned char>(text.back())];
        classes |= single;
        if (converted < out.size()) {
            out[converted++] = (single & kNotDigit) != 0
                                   ? kNotAByte
                                   : static_cast<std::uint8_t>(single & kValueMask);
        }
    }
    return {converted, (classes & kNotInSet) == 0};
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

bool EndsInShortRecord(std::string_view text) {
    if (!CutToLastColon(text)) {
        return false;
    }
    for (const char c : text.substr(1)) {
        if (!kInHexCharSet[static_cast<unsigned char>(c)]) {
            return false;
        }
    }
    return !RecordLengthOk(text);
}

std::size_t HexPairsToBytes(std::string_view text, std::span<std::uint8_t> out) {
    return ScanPairs(text, out).converted;
}

RecordStatus ParseRecordLine(std::string_view line,
                             std::span<std::uint8_t, kRecordBufferBytes> buffer,
                             HexRecord& record) {
    // A line that opens a record but ends before its count says is a cut record: lost data.
    const bool opensRecord = !line.empty() && line.front() == ':';
    PairScan scan;
    if (opensRecord) {
        scan = ScanPairs(line.substr(1), buffer);
    }
    // ':' lies outside HexCharSet: a line that opens a record and passes the check has no
    // later ':', so only other lines need the search for the last one.
    if (!opensRecord || !scan.allInHexCharSet) {
        if (line.empty() || !CutToLastColon(line)) {
            return RecordStatus::Skipped;
        }
        scan = ScanPairs(line.substr(1), buffer);
        if (!scan.allInHexCharSet) {
            return RecordStatus::Skipped;
        }
    }
    if (!RecordLengthOk(line)) {
        return opensRecord ? RecordStatus::Truncated : RecordStatus::Skipped;
    }
    // The length rule guarantees at least n + 5 whole pairs, and n + 5 <= 260 fits the buffer.
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
    const std::uint8_t high = scan.converted > 4 ? buffer[4] : 0;
    const std::uint8_t low = scan.converted > 5 ? buffer[5] : 0;
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
