#include "platform/terminal.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cstring>

#include "platform/unique_fd.h"

namespace koru {

bool IsTerminal(std::FILE* stream) {
    return ::isatty(::fileno(stream)) != 0;
}

void UseUtf8Console() {}

std::optional<std::string> ReadHiddenLine(const char* prompt) {
    const UniqueFd tty(::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (!tty.Valid()) {
        return std::nullopt;
    }
    termios saved{};
    if (::tcgetattr(tty.Get(), &saved) != 0) {
        return std::nullopt;
    }
    termios quiet = saved;
    quiet.c_lflag &= static_cast<tcflag_t>(~ECHO);
    quiet.c_lflag |= ECHONL;
    // Echo goes off before the prompt shows, so nothing typed after it is ever echoed; what
    // was typed ahead of the prompt is dropped.
    if (::tcsetattr(tty.Get(), TCSAFLUSH, &quiet) != 0) {
        return std::nullopt;
    }
    if (::write(tty.Get(), prompt, std::strlen(prompt)) < 0) {
        ::tcsetattr(tty.Get(), TCSAFLUSH, &saved);
        return std::nullopt;
    }
    std::string line;
    bool ended = false;
    char c = 0;
    while (true) {
        const ssize_t got = ::read(tty.Get(), &c, 1);
        if (got <= 0) {
            ended = true;
            break;
        }
        if (c == '\n') {
            break;
        }
        line += c;
    }
    ::tcsetattr(tty.Get(), TCSANOW, &saved);
    if (ended) {
        return std::nullopt;
    }
    if (!line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    return line;
}

}  // namespace koru
