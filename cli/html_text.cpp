#include "cli/html_text.h"

namespace koru::cli {

std::string HtmlEscape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&#39;";
                break;
            default:
                // A control character (a NUL from a damaged record, say) is no text for a page.
                if (static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n' && c != '\r') {
                    out += "\uFFFD";
                } else {
                    out += c;
                }
        }
    }
    return out;
}

std::string ClipFront(const std::string& text, std::size_t maxBytes) {
    if (text.size() <= maxBytes) {
        return text;
    }
    std::size_t from = text.size() - maxBytes;
    // Step over continuation bytes (10xxxxxx) to the start of a character.
    while (from < text.size() && (static_cast<unsigned char>(text[from]) & 0xC0) == 0x80) {
        ++from;
    }
    return "…" + text.substr(from);
}

}  // namespace koru::cli
