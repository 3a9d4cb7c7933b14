#include "report/report_terms.h"

#include <map>

namespace koru::terms {

const char* ResultTerm(RecordResult result) {
    switch (result) {
        case RecordResult::Passed:
            return "编程成功";
        case RecordResult::ChipFailed:
            return "编程失败";
        case RecordResult::LinkLost:
            return "读取串口错误";  // the window's words when the port goes away
        case RecordResult::NoAnswer:
            return "编程器连接错误";  // ... and when no programmer answers
        case RecordResult::Refused:
            return "refused";
    }
    return "?";
}

const char* ResultColour(RecordResult result) {
    switch (result) {
        case RecordResult::Passed:
            return "#009E73";  // bluish green
        case RecordResult::ChipFailed:
            return "#D55E00";  // vermillion
        case RecordResult::LinkLost:
            return "#E69F00";  // orange
        case RecordResult::NoAnswer:
            return "#56B4E9";  // sky blue
        case RecordResult::Refused:
            return "#CC79A7";  // reddish purple
    }
    return "#000000";
}

std::string StepTerm(const std::string& step) {
    static const std::map<std::string, std::string> captions{
        {"blank-check", "芯片空检查"},  {"erase", "擦除MTP"},
        {"program", "编程芯片"},        {"verify", "校验芯片"},
        {"smart", "使能SMART"},         {"ldc-protect", "芯片LDC保护"},
        {"read-protect", "芯片读保护"}, {"hw-protect", "芯片硬件写保护"},
    };
    if (step.empty()) {
        return "(no step recorded)";
    }
    const auto caption = captions.find(step);
    return caption == captions.end() ? step : caption->second;
}

}  // namespace koru::terms
