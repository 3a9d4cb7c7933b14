#pragma once

#include <cstdio>

namespace koru {

// Whether stream writes to a terminal (a console on Windows), where a line may be rewritten.
bool IsTerminal(std::FILE* stream);

}  // namespace koru
