#pragma once

// The queue file's text rules, the same on every system: where a partial last line (left by a
// crash in the middle of an append) begins, what is said of it, and which lines a drain keeps.

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace koru {

// The length of text's whole lines: a partial last line starts there.
std::size_t WholeLinesLength(std::string_view text);

// What the append says of a partial line of bytes cut off into path.damaged.
std::string DamagedText(const std::string& path, std::size_t bytes);

// Offers text's lines to send in order and returns what stays: the lines send refused, and a
// partial last line as it is (the next append cuts it off, saying so). Empty lines go.
std::string DrainLines(std::string_view text, const std::function<bool(const std::string&)>& send,
                       std::size_t& sent, std::size_t& left);

}  // namespace koru
