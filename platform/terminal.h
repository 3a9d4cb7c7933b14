#pragma once

#include <cstdio>
#include <optional>
#include <string>

namespace koru {

// Whether stream writes to a terminal (a console on Windows), where a line may be rewritten.
bool IsTerminal(std::FILE* stream);

// Makes the console show the program's UTF-8 texts (Chinese status texts among them) as
// characters: on Windows the console's output code page becomes UTF-8 for this process's
// lifetime (the console's own is restored at exit); elsewhere a terminal takes UTF-8 already.
void UseUtf8Console();

// Shows prompt on the terminal and reads one line from it without echoing what is typed (a
// password). Nothing when there is no terminal to read from or the input ended.
std::optional<std::string> ReadHiddenLine(const char* prompt);

}  // namespace koru
