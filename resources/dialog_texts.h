#pragma once

// The texts of the program's dialog templates and string table (UTF-8).

#include <array>

namespace koru {

// Template 102: the main window. Its caption is the product, ten blanks and the web address.
inline constexpr char kMainWindowProduct[] = "KORU V2.30B";
inline constexpr int kMainWindowCaptionBlanks = 10;
// The title of the application's own message boxes.
inline constexpr char kApplicationTitle[] = "KORU";

// String 101: the about entry of the window's menu.
inline constexpr char kAboutEntryText[] = "关于 KORU V2.0B(&A)...";

// Template 129: the cell editor.
inline constexpr char kEditDialogCaption[] = "编辑代码数据";
inline constexpr char kEditDialogOk[] = "确定";
inline constexpr char kEditDialogCancel[] = "取消";
// The label's template text; the dialog replaces it with the address prompt.
inline constexpr char kEditDialogLabelTemplate[] = "请输入新数据:[HEXADD=]";
inline constexpr char kEditDialogPromptBegin[] = "请输入新值(地址--";
inline constexpr char kEditDialogPromptEnd[] = "):";

// Template 101: the counter settings dialog. Rectangles in dialog units (x, y, width, height);
// id -1 marks the controls that have no id of their own.
inline constexpr char kCounterDialogCaption[] = "设置计数器";
inline constexpr int kCounterDialogWidthDlu = 213;
inline constexpr int kCounterDialogHeightDlu = 125;

enum class CounterDialogKind { DefaultButton, Button, Check, Group, Label, Edit };

struct CounterDialogControl {
    int id;
    CounterDialogKind kind;
    const char* caption;
    int x, y, width, height;
};

inline constexpr std::array<CounterDialogControl, 14> kCounterDialogControls{{
    {1, CounterDialogKind::DefaultButton, "确定", 28, 104, 50, 14},
    {2, CounterDialogKind::Button, "取消", 133, 104, 50, 14},
    {1000, CounterDialogKind::Check, "擦除失败计数", 17, 19, 64, 10},
    {1001, CounterDialogKind::Check, "使能SMART失败计数", 108, 19, 87, 10},
    {1002, CounterDialogKind::Check, "空检查失败计数", 17, 32, 72, 10},
    {1003, CounterDialogKind::Check, "读保护失败计数", 17, 45, 72, 10},
    {1004, CounterDialogKind::Check, "LDC保护失败计数", 108, 32, 77, 10},
    {-1, CounterDialogKind::Group, "烧写失败计数设置", 7, 7, 199, 52},
    {1005, CounterDialogKind::Check, "硬件写保护失败计数", 108, 45, 88, 10},
    {-1, CounterDialogKind::Group, "计数器初始值", 7, 61, 199, 35},
    {-1, CounterDialogKind::Label, "成功计数:", 16, 78, 36, 8},
    {1006, CounterDialogKind::Edit, "", 56, 75, 39, 14},
    {-1, CounterDialogKind::Label, "失败计数:", 108, 77, 36, 8},
    {1007, CounterDialogKind::Edit, "", 147, 74, 39, 14},
}};

}  // namespace koru
