#include <io.h>
#include <windows.h>

#include <cstdlib>

#include "platform/terminal.h"

namespace koru {

bool IsTerminal(std::FILE* stream) {
    return ::_isatty(::_fileno(stream)) != 0;
}

namespace {

UINT consoleCodePage = 0;

void RestoreConsoleCodePage() {
    ::SetConsoleOutputCP(consoleCodePage);
}

}  // namespace

void UseUtf8Console() {
    const UINT current = ::GetConsoleOutputCP();
    // No console (output to a file or a pipe): bytes go out as they are.
    if (current == 0 || current == CP_UTF8) {
        return;
    }
    if (::SetConsoleOutputCP(CP_UTF8)) {
        consoleCodePage = current;
        std::atexit(RestoreConsoleCodePage);
    }
}

}  // namespace koru
