#pragma once

// What the window says when a production record cannot be written. A record that cannot be
// written never stops or changes programming: the status line says so after each such run,
// and a warning box says so once per run of the program.

namespace koru {

// Shown with the warning box and added to the status line.
inline constexpr char kRecordWarningCaption[] = "警告";
inline constexpr char kRecordNotWrittenText[] = "生产记录无法写入:";
inline constexpr char kRecordWarningTail[] = "编程照常进行,但这些芯片没有记录。本次运行不再提示。";
inline constexpr char kRecordNotWrittenNote[] = " [生产记录未写入]";

}  // namespace koru
