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
    Truncated,    // a record line was cut short; reading stopped there
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
// not records are skipped; types other than data (0x00, 0x20), segment (0x02) and linear
// address (0x04) are skipped. A segment record sets the base to value * 16, a linear address
// record to value * 65536; each replaces the base the other set.
HexLoadResult LoadHexText(TextLineReader& reader, std::span<std::uint8_t, kImageSize> image);

}  // namespace koru
