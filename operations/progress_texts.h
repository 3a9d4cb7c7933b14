#pragma once

// The status texts the long chip operations show while they run. Each step opens with its text
// followed by "......" and then (except erase) repeats it with the address it has reached, so a
// front end can follow a step's progress from the status line alone.

namespace koru {

// Then ", 地址: " and the next address to send.
inline constexpr char kProgramText[] = "请稍候,正在编程芯片";
// Then ",  地址: " and the next address to check.
inline constexpr char kBlankCheckText[] = "请稍候,芯片空检查";
// Then ",  地址: " and the last address summed.
inline constexpr char kChecksumText[] = "请稍候,得到芯片检查和";
// Then the address of the block about to be read.
inline constexpr char kVerifyText[] = "请稍候,校验芯片数据,在地址:";
// Then the address of the block about to be read; there is no opening text.
inline constexpr char kCopyChipText[] = "请稍候,拷贝芯片数据到编程内存,地址: ";
// The whole text: erasing reports no address until it ends.
inline constexpr char kEraseMtpText[] = "正在擦除MTP,请稍候......";

// What an opening text ends with.
inline constexpr char kOpeningTail[] = "......";

}  // namespace koru
