#include "window/control_table.h"

#include <array>

namespace koru {
namespace {

using K = ControlKind;
using F = WindowFont;
constexpr int kMain = kParentMain;

// clang-format off
constexpr std::array kTable{
    ControlEntry{101, K::Group,  "端口",                 kMain, 10, 5, 85, 140,    kNoFlags, F::Controls},
    ControlEntry{110, K::Radio,  "COM1",                 101,   10, 20, 70, 40,    kStartsRadioGroup, F::Controls},
    ControlEntry{111, K::Radio,  "COM2",                 101,   10, 40, 70, 60,    kNoFlags, F::Controls},
    ControlEntry{112, K::Radio,  "COM3",                 101,   10, 60, 70, 80,    kNoFlags, F::Controls},
    ControlEntry{113, K::Radio,  "COM4",                 101,   10, 80, 70, 100,   kNoFlags, F::Controls},
    ControlEntry{200, K::Check,  "快速模式",             101,   5, 110, 70, 130,   kMarkedAtStart, F::Controls},
    ControlEntry{102, K::Group,  "芯片类型",             kMain, 90, 5, 200, 70,    kNoFlags, F::Controls},
    ControlEntry{114, K::Radio,  "串行OTP芯片",          102,   10, 20, 100, 40,   kNoFlags, F::Controls},
    ControlEntry{115, K::Radio,  "串行MTP芯片",          102,   10, 40, 100, 60,   kNoFlags, F::Controls},
    ControlEntry{176, K::Group,  "辅助功能",             kMain, 90, 75, 200, 140,  kNoFlags, F::Controls},
    ControlEntry{171, K::Check,  "显示计数器",           176,   10, 15, 100, 40,   kMarkedAtStart, F::Controls},
    ControlEntry{174, K::Check,  "开启蜂鸣器",           176,   10, 40, 100, 60,   kNoFlags, F::Controls},
    ControlEntry{104, K::Group,  "数据类型",             kMain, 205, 5, 315, 90,   kNoFlags, F::Controls},
    ControlEntry{118, K::Radio,  "SAM4/SAM8",            104,   10, 20, 100, 40,   kMarkedAtStart | kMtpOnly, F::Controls},
    ControlEntry{119, K::Radio,  "CalmRisc",             104,   10, 40, 100, 60,   kDisabledAtStart, F::Controls},
    ControlEntry{120, K::Radio,  "ARM",                  104,   10, 60, 100, 80,   kDisabledAtStart, F::Controls},
    ControlEntry{103, K::Group,  "芯片Vdd选择",          kMain, 205, 95, 315, 140, kNoFlags, F::Controls},
    ControlEntry{116, K::Radio,  "5.0V",                 103,   10, 20, 55, 40,    kMarkedAtStart, F::Controls},
    ControlEntry{117, K::Radio,  "3.3V",                 103,   60, 20, 105, 40,   kDisabledAtStart, F::Controls},
    ControlEntry{105, K::Group,  "编程系统",             kMain, 320, 5, 450, 140,  kNoFlags, F::Controls},
    ControlEntry{121, K::Check,  "自动校验",             105,   10, 20, 120, 35,   kNoFlags, F::Controls},
    ControlEntry{123, K::Check,  "自动读保护",           105,   10, 35, 120, 50,   kNoFlags, F::Controls},
    ControlEntry{125, K::Check,  "自动LDC保护",          105,   10, 50, 120, 65,   kMtpOnly, F::Controls},
    ControlEntry{127, K::Check,  "使能SMART",            105,   10, 65, 120, 80,   kMtpOnly, F::Controls},
    ControlEntry{124, K::Check,  "自动硬件写保护",       105,   10, 80, 120, 95,   kMtpOnly, F::Controls},
    ControlEntry{126, K::Check,  "编程前擦除MTP",        105,   10, 95, 120, 110,  kMtpOnly, F::Controls},
    ControlEntry{122, K::Check,  "自动空检查",           105,   10, 110, 120, 125, kNoFlags, F::Controls},
    ControlEntry{106, K::Group,  "控制数据",             kMain, 455, 5, 618, 140,  kNoFlags, F::Controls},
    ControlEntry{128, K::Label,  "起始地址(HEX):",       106,   5, 20, 100, 40,    kNoFlags, F::Controls},
    ControlEntry{130, K::Label,  "终止地址(HEX):",       106,   5, 49, 100, 69,    kNoFlags, F::Controls},
    ControlEntry{132, K::Label,  "编程电压[V]:",         106,   5, 78, 100, 98,    kNoFlags, F::Controls},
    ControlEntry{134, K::Label,  "芯片电压[V]:",         106,   5, 107, 100, 127,  kNoFlags, F::Controls},
    ControlEntry{129, K::Edit,   "0000",                 106,   95, 15, 155, 40,   kCentred | kUpperCase, F::Fields},
    ControlEntry{131, K::Edit,   "1FFF",                 106,   95, 45, 155, 70,   kCentred | kUpperCase, F::Fields},
    ControlEntry{133, K::Edit,   "12.0",                 106,   95, 75, 155, 100,  kCentred | kUpperCase | kReadOnly | kDisabledAtStart, F::Fields},
    ControlEntry{135, K::Edit,   "5.0",                  106,   95, 105, 155, 130, kCentred | kUpperCase | kReadOnly | kDisabledAtStart, F::Fields},
    ControlEntry{107, K::Group,  "编程操作",             kMain, 10, 145, 315, 360, kNoFlags, F::Controls},
    ControlEntry{136, K::Button, "自动编程",             107,   10, 20, 130, 45,   kNoFlags, F::Controls},
    ControlEntry{137, K::Button, "校验芯片",             107,   180, 20, 290, 45,  kNoFlags, F::Controls},
    ControlEntry{138, K::Button, "芯片空检查",           107,   10, 60, 130, 85,   kNoFlags, F::Controls},
    ControlEntry{139, K::Button, "显示内存数据",         107,   180, 60, 290, 85,  kNoFlags, F::Controls},
    ControlEntry{140, K::Button, "芯片检查和",           107,   10, 100, 130, 125, kNoFlags, F::Controls},
    ControlEntry{141, K::Button, "缓冲区检查和",         107,   180, 100, 290, 125, kNoFlags, F::Controls},
    ControlEntry{142, K::Button, "芯片读保护",           107,   10, 140, 130, 165, kNoFlags, F::Controls},
    ControlEntry{143, K::Button, "擦除MTP",              107,   180, 140, 290, 165, kMtpOnly, F::Controls},
    ControlEntry{144, K::Button, "芯片LDC保护",          107,   10, 180, 130, 205, kMtpOnly, F::Controls},
    ControlEntry{145, K::Button, "芯片硬件写保护",       107,   180, 180, 290, 205, kMtpOnly, F::Controls},
    ControlEntry{108, K::Group,  "文件操作",             kMain, 320, 145, 618, 310, kNoFlags, F::Controls},
    ControlEntry{146, K::Button, "打开文件",             108,   10, 20, 100, 45,   kNoFlags, F::Controls},
    ControlEntry{147, K::Edit,   "",                     108,   110, 20, 290, 45,  kCentred, F::Controls},
    ControlEntry{149, K::Button, "拷贝芯片数据到缓冲区", 108,   10, 60, 150, 90,   kNoFlags, F::Controls},
    ControlEntry{151, K::Button, "编程内存制作HEX文件",  108,   10, 105, 150, 135, kNoFlags, F::Controls},
    ControlEntry{148, K::Button, "下载文件代码",         108,   180, 60, 280, 85,  kNoFlags, F::Controls},
    ControlEntry{152, K::Label,  "编程内存检查和:",      108,   180, 90, 280, 110, kNoFlags, F::Controls},
    ControlEntry{153, K::Edit,   "",                     108,   180, 110, 280, 140, kCentred | kUpperCase | kReadOnly, F::Fields},
    ControlEntry{154, K::Button, "退出编程",             kMain, 500, 320, 600, 360, kNoFlags, F::Controls},
    ControlEntry{156, K::Link,   "",                     kMain, 320, 340, 490, 360, kNoFlags, F::Link},
    ControlEntry{158, K::Group,  "编程内存代码视图",     kMain, 10, 5, 618, 305,   kHiddenAtStart, F::Controls},
    ControlEntry{159, K::List,   "",                     kMain, 20, 25, 483, 270,  kHiddenAtStart, F::MemoryList},
    ControlEntry{160, K::Button, "上一页",               158,   490, 25, 590, 50,  kNoFlags, F::Controls},
    ControlEntry{161, K::Button, "下一页",               158,   490, 70, 590, 95,  kNoFlags, F::Controls},
    ControlEntry{164, K::Label,  "显示地址:",            158,   490, 130, 580, 150, kNoFlags, F::Controls},
    ControlEntry{162, K::Edit,   "",                     158,   490, 150, 545, 175, kCentred | kUpperCase, F::Fields},
    ControlEntry{163, K::Button, "设 置",                158,   550, 150, 590, 175, kNoFlags, F::Controls},
    ControlEntry{165, K::Radio,  "编程内存代码视图",     158,   490, 200, 600, 220, kStartsRadioGroup, F::Controls},
    ControlEntry{166, K::Radio,  "芯片代码视图",         158,   490, 225, 590, 245, kNoFlags, F::Controls},
    ControlEntry{167, K::Check,  "ASCII格式显示",        158,   490, 250, 590, 270, kNoFlags, F::Controls},
    ControlEntry{168, K::Button, "返 回",                kMain, 500, 320, 600, 350, kHiddenAtStart, F::Controls},
    ControlEntry{109, K::Group,  "编程状态",             kMain, 10, 365, 618, 415, kNoFlags, F::Controls},
    ControlEntry{157, K::Edit,   "",                     109,   10, 15, 595, 40,   kReadOnly, F::Controls},
    ControlEntry{170, K::Group,  "编程计数",             kMain, 10, 420, 618, 470, kNoFlags, F::Controls},
    ControlEntry{177, K::Label,  "成功计数:",            170,   10, 20, 70, 42,    kNoFlags, F::Controls},
    ControlEntry{179, K::Edit,   "00000",                170,   80, 15, 150, 40,   kCentred | kReadOnly, F::Fields},
    ControlEntry{178, K::Label,  "失败计数:",            170,   180, 20, 240, 42,  kNoFlags, F::Controls},
    ControlEntry{180, K::Edit,   "00000",                170,   250, 15, 320, 40,  kCentred | kReadOnly, F::Fields},
    ControlEntry{172, K::Button, "清零",                 170,   350, 16, 410, 40,  kNoFlags, F::Controls},
    ControlEntry{175, K::Button, "暂停计数",             170,   430, 16, 490, 40,  kNoFlags, F::Controls},
    ControlEntry{173, K::Button, "设置计数器",           170,   510, 16, 590, 40,  kNoFlags, F::Controls},
};
// clang-format on

}  // namespace

std::span<const ControlEntry> ControlTable() {
    return kTable;
}

const ControlEntry* FindControlEntry(int id) {
    for (const ControlEntry& entry : kTable) {
        if (entry.id == id) {
            return &entry;
        }
    }
    return nullptr;
}

}  // namespace koru
