#include "platform/terminal.h"

#include <unistd.h>

namespace koru {

bool IsTerminal(std::FILE* stream) {
    return ::isatty(::fileno(stream)) != 0;
}

void UseUtf8Console() {}

}  // namespace koru
