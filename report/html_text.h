#pragma once

// Text from the records put into a page or a console table: escaped so that it is always shown
// as text, never read as markup or script, in element content and in quoted attribute values
// alike; clipped without splitting a UTF-8 character.

#include <string>
#include <string_view>

namespace koru {

// & < > " ' as character references, control characters other than tab and line ends as
// U+FFFD; everything else as it is.
std::string HtmlEscape(std::string_view text);

// text cut to at most maxBytes from its end, with "…" in front when cut, never splitting a
// UTF-8 character: the end of a device path or a file path tells them apart.
std::string ClipFront(const std::string& text, std::size_t maxBytes);

// text cut to at most maxBytes from its start, never splitting a UTF-8 character.
std::string Clip(const std::string& text, std::size_t maxBytes);

}  // namespace koru
