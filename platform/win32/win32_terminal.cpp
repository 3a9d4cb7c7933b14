#include <io.h>

#include "platform/terminal.h"

namespace koru {

bool IsTerminal(std::FILE* stream) {
    return ::_isatty(::_fileno(stream)) != 0;
}

}  // namespace koru
