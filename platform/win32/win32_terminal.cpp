#include <io.h>
#include <windows.h>

#include <cstdlib>
#include <string>

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

std::optional<std::string> ReadHiddenLine(const char* prompt) {
    const HANDLE input =
        ::CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                      nullptr, OPEN_EXISTING, 0, nullptr);
    if (input == INVALID_HANDLE_VALUE) {
        return std::nullopt;
    }
    DWORD mode = 0;
    if (!::GetConsoleMode(input, &mode) ||
        !::SetConsoleMode(input, mode & ~static_cast<DWORD>(ENABLE_ECHO_INPUT))) {
        ::CloseHandle(input);
        return std::nullopt;
    }
    std::fputs(prompt, stderr);
    std::fflush(stderr);
    std::wstring typed;
    bool ended = false;
    while (true) {
        wchar_t c = 0;
        DWORD got = 0;
        if (!::ReadConsoleW(input, &c, 1, &got, nullptr) || got == 0) {
            ended = true;
            break;
        }
        if (c == L'\n') {
            break;
        }
        if (c != L'\r') {
            typed += c;
        }
    }
    ::SetConsoleMode(input, mode);
    ::CloseHandle(input);
    std::fputs("\n", stderr);
    if (ended) {
        return std::nullopt;
    }
    const int bytes = ::WideCharToMultiByte(
        CP_UTF8, 0, typed.data(), static_cast<int>(typed.size()), nullptr, 0, nullptr, nullptr);
    std::string line(static_cast<std::size_t>(bytes > 0 ? bytes : 0), '\0');
    if (bytes > 0) {
        ::WideCharToMultiByte(CP_UTF8, 0, typed.data(), static_cast<int>(typed.size()), line.data(),
                              bytes, nullptr, nullptr);
    }
    return line;
}

}  // namespace koru
