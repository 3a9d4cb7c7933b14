#include "image/hex_text_loader.h"

#include <algorithm>
#include <array>

#include "image/hex_record.h"

namespace koru {

namespace {

constexpr std::uint32_t kSegmentScale = 16;      // a segment value counts in 16-byte paragraphs
constexpr std::uint32_t kLinearScale = 0x10000;  // a linear address value is the upper 16 bits

}  // namespace

HexLoadResult LoadHexText(TextLineReader& reader, std::span<std::uint8_t, kImageSize> image) {
    HexLoadResult result;
    std::array<std::uint8_t, kRecordBufferBytes> buffer{};
    std::uint32_t base = 0;
    std::string_view line;
    while (reader.NextLine(line)) {
        HexRecord record;
        const RecordStatus status = ParseRecordLine(line, buffer, record);
        if (status == RecordStatus::Skipped) {
            // A line longer than the reader's cut comes in pieces: a record across the cut
            // must not pass for junk, or its bytes would be lost without a word.
            const bool cut = line.size() == kMaxLineChars && line.back() != '\n';
            if (cut && EndsInShortRecord(line)) {
                result.outcome = HexLoadOutcome::Truncated;
                return result;
            }
            continue;
        }
        if (status == RecordStatus::BadChecksum) {
            result.outcome = HexLoadOutcome::BadChecksum;
            return result;
        }
        if (status == RecordStatus::Truncated) {
            result.outcome = HexLoadOutcome::Truncated;
            return result;
        }
        if (record.type == kRecordSegment) {
            base = std::uint32_t{record.segmentValue} * kSegmentScale;
            continue;
        }
        if (record.type == kRecordLinear) {
            base = std::uint32_t{record.segmentValue} * kLinearScale;
            continue;
        }
        if (record.type != kRecordData && record.type != kRecordDataAlt) {
            continue;
        }
        // Offsets do not wrap at 64 KiB: the record goes in one piece from base + offset. In 64
        // bits, since a linear base near 4 GiB plus the record would wrap in 32.
        const std::uint64_t address64 = std::uint64_t{base} + record.offset;
        const std::uint64_t next64 = address64 + record.data.size();
        if (next64 > kImageSize) {
            result.outcome = HexLoadOutcome::OutOfRange;
            return result;
        }
        const auto address = static_cast<std::uint32_t>(address64);
        const auto next = static_cast<std::uint32_t>(next64);
        std::copy(record.data.begin(), record.data.end(), image.begin() + address);
        if (address >= result.end) {
            result.end = next;
        }
    }
    if (reader.Failed()) {
        result.outcome = HexLoadOutcome::ReadFailed;
    }
    return result;
}

}  // namespace koru
