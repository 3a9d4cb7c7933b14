#pragma once

#include <string>

namespace koru {

// Operation code 16: asks for a file name and writes the current range of the programming image
// to it as Intel HEX (16-byte data records that never cross a multiple of 16, a segment record
// before the data of each 64 KiB region above the first, CR LF line ends, no end-of-file
// record). Polls SaveStopRequest once per 256-byte block. The outcome is FailureFlag and the
// status line; the image and its range are not changed.
void SaveImageAsHex();

// The system's words for why the last save failed (empty after one that succeeded).
std::string LastSaveErrorText();

}  // namespace koru
