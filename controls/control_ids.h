#pragma once

// The ids of the window's controls that the custom controls single out.

namespace koru {

inline constexpr int kIdOpenFile = 146;           // button "打开文件"
inline constexpr int kIdFileName = 147;           // code file name edit
inline constexpr int kIdChecksum = 153;           // programming-memory checksum field
inline constexpr int kIdWebLink = 156;            // the web link
inline constexpr int kIdStatusLine = 157;         // the status line
inline constexpr int kIdDisplayAddress = 162;     // memory view's display-address edit
inline constexpr int kIdSetDisplayAddress = 163;  // button "设 置"
inline constexpr int kIdImageView = 165;          // radio "编程内存代码视图"
inline constexpr int kIdChipView = 166;           // radio "芯片代码视图"
inline constexpr int kIdAsciiView = 167;          // check box "ASCII格式显示"

// The three view-mode controls that a running page display locks.
inline constexpr bool IsViewModeControl(int id) {
    return id == kIdImageView || id == kIdChipView || id == kIdAsciiView;
}

}  // namespace koru
