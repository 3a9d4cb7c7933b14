#pragma once

// The words and colours of the HTML report. The words are the window's own where the window
// has a term for the thing (its Chinese captions and status words), plain English elsewhere.
// The colours are the Okabe-Ito set, told apart with every common colour-vision deficiency.

#include <string>

#include "report/report_record.h"

namespace koru::terms {

inline constexpr char kProductionRecord[] = "生产记录";
inline constexpr char kPort[] = "端口";
inline constexpr char kDevice[] = "设备";
inline constexpr char kCodeFile[] = "代码文件";
inline constexpr char kChips[] = "编程计数";
inline constexpr char kPassedCount[] = "成功计数";
inline constexpr char kFailedCount[] = "失败计数";
inline constexpr char kPc[] = "PC";

inline constexpr char kBarColour[] = "#0072B2";  // blue: bars of one kind

// The window's word for how a run ended.
const char* ResultTerm(RecordResult result);
const char* ResultColour(RecordResult result);

// The window's caption of a step as recorded ("verify" -> "校验芯片"); another name as it is.
std::string StepTerm(const std::string& step);

}  // namespace koru::terms
