#pragma once

// Reads Intel HEX text into an image: the records of every line in file order, to the
// physical end of the text. No window, no flags: the caller reports the outcome.

#include <cstdint>
#include <span>

#include "image/program_memory.h"
#include "image/text_line_reader.h"

namespace koru {

enum class HexLoadOutcome {
    Done,         // the whole text was read
    BadChecksum,  // a record's bytes did not sum to 0; reading stopped there
    OutOfRange,   // a record reached at or beyond the end of the image; nothing of it written
    ReadFailed,   // the file could not be read to its end
};

struct HexLoadResult {
    HexLoadOutcome outcome = HexLoadOutcome::Done;
    // One past the highest address reached, by this rule: a data record at A sets it to A + n
    // when A is not below it, and leaves it alone otherwise (records in descending order do not
    // raise it). 0 when no data record was read.
    std::uint32_t end = 0;
};

// Writes the data records of the text into image (which the caller has blanked). Lines that are
// not records are skipped; types other than data (0x00, 0x20) and segment (0x02) are skipped.
HexLoadResult LoadHexText(TextLineReader& reader, std::span<std::uint8_t, kImageSize> image);

}  // namespace koru
