#pragma once

#include <cstdio>

namespace koru {

// Whether stream writes to a terminal (a console on Windows), where a line may be rewritten.
bool IsTerminal(std::FILE* stream);

// Makes the console show the program's UTF-8 texts (Chinese status texts among them) as
// characters: on Windows the console's output code page becomes UTF-8 for this process's
// lifetime (the console's own is restored at exit); elsewhere a terminal takes UTF-8 already.
void UseUtf8Console();

}  // namespace koru
