#pragma once

namespace koru {

// Code 15, the production sequence: runs the ticked steps in a fixed order on this worker
// (blank check, erase, program, verify by chip checksum, SMART, LDC protection, read
// protection, hardware write protection), stops at the first failing step, counts the run
// and beeps the result.
void AutoProgram();

inline constexpr char kAutoProgramDoneText[] = "自动编程已成功完成";

}  // namespace koru
