#include "platform/queue_lines.h"

namespace koru {

std::size_t WholeLinesLength(std::string_view text) {
    const std::size_t end = text.rfind('\n');
    return end == std::string_view::npos ? 0 : end + 1;
}

std::string DamagedText(const std::string& path, std::size_t bytes) {
    return path + " ended in a partial line (" + std::to_string(bytes) +
           " bytes, from a crash while a record was added): kept aside in " + path + ".damaged";
}

std::string DrainLines(std::string_view text, const std::function<bool(const std::string&)>& send,
                       std::size_t& sent, std::size_t& left) {
    std::string kept;
    std::size_t begin = 0;
    while (begin < text.size()) {
        const std::size_t end = text.find('\n', begin);
        if (end == std::string_view::npos) {
            kept += text.substr(begin);
            break;
        }
        const std::string line(text.substr(begin, end - begin));
        begin = end + 1;
        if (line.empty()) {
            continue;
        }
        if (send(line)) {
            ++sent;
        } else {
            kept += line + "\n";
            ++left;
        }
    }
    return kept;
}

}  // namespace koru
