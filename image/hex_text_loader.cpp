#include "image/hex_text_loader.h"

#include <algorithm>
#include <array>

#include "image/hex_record.h"

namespace koru {

namespace {

constexpr std::uint32_t kSegmentScale = 16;  // a segment value counts in 16-byte paragraphs

}  // namespace

HexLoadResult LoadHexText(TextLineReader& reader, std::span<std::uint8_t, kImageSize> image) {
    HexLoadResult result;
    std::array<std::uint8_t, kRecordBufferBytes> buffer{};
    std::uint32_t segmentBase = 0;
    std::string_view line;
    while (reader.NextLine(line)) {
        HexRecord record;
        const RecordStatus status = ParseRecordLine(line, buffer, record);
        if (status == RecordStatus::Skipped) {
            continue;
        }
        if (status == RecordStatus::BadChecksum) {
            result.outcome = HexLoadOutcome::BadChecksum;
            return result;
        }
        if (record.type == kRecordSegment) {
            segmentBase = std::uint32_t{record.segmentValue} * kSegmentScale;
            continue;
        }
        if (record.type != kRecordData && record.type != kRecordDataAlt) {
            continue;
        }
        // Offsets do not wrap at 64 KiB: the record goes in one piece from base + offset.
        const std::uint32_t address = segmentBase + record.offset;
        const std::uint32_t next = address + static_cast<std::uint32_t>(record.data.size());
        if (next > kImageSize) {
            result.outcome = HexLoadOutcome::OutOfRange;
            return result;
        }
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
