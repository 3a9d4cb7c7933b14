#pragma once

// Loading a code file into the programming image: a name ending in ".bin" (any case) is copied
// byte for byte, every other file is read as Intel HEX text. Runs on the operation worker and
// reports through FailureFlag and the status line.

#include <string_view>

namespace koru {

// Operation code 18: reads the file named in the code-file name field. On success the image
// holds the file, the range is 0..last byte loaded, the address fields, the checksum field and
// the checksum range follow it, and CodeLoadedFlag is 1. On failure FailureFlag is 1, the status
// line says why, and the image, range, fields and CodeLoadedFlag are as they were.
void LoadCodeFile();

// The reading itself: the file goes into a scratch image that replaces the programming image
// only when the whole file was read. Sets StartAddress, EndAddress and CodeLoadedFlag on
// success; leaves the window's fields to LoadCodeFile.
void ReadCodeFile();

// First step of operation code 19: the open-file dialog. When the operator chooses a file its
// full path goes into the code-file name field and the result is true; false when cancelled.
bool ChooseCodeFile();

// True when name selects the binary path: its last four characters, in lower case, are ".bin".
bool IsBinaryCodeFileName(std::string_view name);

}  // namespace koru
