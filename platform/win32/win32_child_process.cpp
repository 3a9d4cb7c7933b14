// Child programs on Windows: CreateProcessW with its output (and, asked, its errors) through
// anonymous pipes read without blocking (PeekNamedPipe first), its standard input NUL. A child
// with its own group runs in a job object, so Kill ends it with everything it started, and in
// a process group of its own, so Terminate can send it Ctrl-Break first.

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "platform/child_process.h"

namespace koru {
namespace {

// What Windows itself needs in a child's environment even when it is given nothing else:
// without it many programs cannot load their libraries. It holds no secret.
constexpr const char* kSystemEnvironment[] = {"SystemRoot", "windir"};
constexpr std::chrono::milliseconds kPollPause{5};
// The exit status of a child that Kill ended, as a POSIX one killed by SIGKILL reads.
constexpr UINT kKilledStatus = 128 + 9;

std::wstring Wide(const std::string& text) {
    if (text.empty()) {
        return {};
    }
    const int length =
        ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(),
                          length);
    return wide;
}

std::string SystemText(DWORD code) {
    char* text = nullptr;
    ::FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string said = text != nullptr ? text : "error " + std::to_string(code);
    ::LocalFree(text);
    while (!said.empty() && (said.back() == '\n' || said.back() == '\r' || said.back() == '.')) {
        said.pop_back();
    }
    return said;
}

// One argument as the C runtime's parser reads it back: quoted where it has blanks or quotes,
// backslashes doubled only before a quote.
void AppendArgument(std::wstring& line, const std::wstring& arg) {
    if (!line.empty()) {
        line += L' ';
    }
    if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
        line += arg;
        return;
    }
    line += L'"';
    std::size_t backslashes = 0;
    for (const wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        line.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        line += c;
    }
    line.append(backslashes * 2, L'\\');
    line += L'"';
}

// NAME=VALUE entries, each ended by a zero, the block by another.
std::wstring EnvironmentBlock(const std::vector<std::string>& extra, bool extraOnly) {
    std::vector<std::wstring> entries;
    if (extraOnly) {
        for (const char* name : kSystemEnvironment) {
            if (const char* value = std::getenv(name)) {
                entries.push_back(Wide(std::string(name) + "=" + value));
            }
        }
    } else if (wchar_t* own = ::GetEnvironmentStringsW()) {
        for (const wchar_t* entry = own; *entry != L'\0'; entry += std::wcslen(entry) + 1) {
            entries.emplace_back(entry);
        }
        ::FreeEnvironmentStringsW(own);
    }
    for (const std::string& entry : extra) {
        entries.push_back(Wide(entry));
    }
    std::wstring block;
    for (const std::wstring& entry : entries) {
        block += entry;
        block += L'\0';
    }
    block += L'\0';
    return block;
}

// A pipe whose write end the child inherits; the read end becomes a C runtime descriptor.
bool MakePipe(int& readDescriptor, HANDLE& writeEnd) {
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE readEnd = nullptr;
    if (!::CreatePipe(&readEnd, &writeEnd, &inherit, 0)) {
        return false;
    }
    ::SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    readDescriptor = ::_open_osfhandle(reinterpret_cast<intptr_t>(readEnd), _O_RDONLY | _O_BINARY);
    if (readDescriptor < 0) {
        ::CloseHandle(readEnd);
        ::CloseHandle(writeEnd);
        return false;
    }
    return true;
}

// A pipe whose read end the child inherits as its standard input; the write end stays here.
bool MakeInputPipe(HANDLE& readEnd, HANDLE& writeEnd) {
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    if (!::CreatePipe(&readEnd, &writeEnd, &inherit, 0)) {
        return false;
    }
    ::SetHandleInformation(writeEnd, HANDLE_FLAG_INHERIT, 0);
    return true;
}

// Bytes waiting in the pipe, or -1 once its writers are gone and it is empty.
long long Waiting(int descriptor) {
    DWORD available = 0;
    const HANDLE pipe = reinterpret_cast<HANDLE>(::_get_osfhandle(descriptor));
    if (!::PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr)) {
        return -1;
    }
    return available;
}

// Moves what is waiting in the pipe *descriptor into out without blocking; closes it at its
// end (and sets it to -1). False once it is closed.
bool ReadPipe(int& descriptor, std::string& out) {
    if (descriptor < 0) {
        return false;
    }
    std::array<char, 4096> chunk{};
    for (std::size_t taken = 0; taken < kChildReadLimit;) {
        const long long waiting = Waiting(descriptor);
        if (waiting == 0) {
            return true;
        }
        if (waiting > 0) {
            const unsigned wanted =
                static_cast<unsigned>(std::min<long long>(waiting, chunk.size()));
            const int got = ::_read(descriptor, chunk.data(), wanted);
            if (got > 0) {
                out.append(chunk.data(), static_cast<std::size_t>(got));
                taken += static_cast<std::size_t>(got);
                continue;
            }
        }
        ::_close(descriptor);
        descriptor = -1;
        return false;
    }
    return true;  // more may wait: the caller decides before reading on
}

int StatusOf(HANDLE process) {
    DWORD code = 0;
    return ::GetExitCodeProcess(process, &code) ? static_cast<int>(code) : 128;
}

}  // namespace

ChildProcess::~ChildProcess() {
    CloseInput();  // a child waiting for input sees its end instead of waiting on
    Wait();
    for (const int descriptor : {output_, errors_}) {
        if (descriptor >= 0) {
            ::_close(descriptor);
        }
    }
    if (job_ != nullptr) {
        ::CloseHandle(job_);
    }
}

bool ChildProcess::Start(const std::vector<std::string>& args, std::string& error,
                         const std::vector<std::string>& extraEnvironment, ChildSetup setup) {
    if (process_ != nullptr || args.empty()) {
        error = "nothing to start";
        return false;
    }
    HANDLE outputWrite = nullptr;
    HANDLE errorsWrite = nullptr;
    int outputRead = -1;
    int errorsRead = -1;
    if (!MakePipe(outputRead, outputWrite) ||
        (setup.errorsApart && !MakePipe(errorsRead, errorsWrite))) {
        error = SystemText(::GetLastError());
        if (outputRead >= 0) {
            ::_close(outputRead);
            ::CloseHandle(outputWrite);
        }
        return false;
    }
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE input = INVALID_HANDLE_VALUE;
    HANDLE inputWrite = nullptr;
    if (setup.inputPipe) {
        if (!MakeInputPipe(input, inputWrite)) {
            error = SystemText(::GetLastError());
            ::_close(outputRead);
            ::CloseHandle(outputWrite);
            if (errorsRead >= 0) {
                ::_close(errorsRead);
                ::CloseHandle(errorsWrite);
            }
            return false;
        }
    } else {
        input = ::CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                              OPEN_EXISTING, 0, nullptr);
    }

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input;
    startup.hStdOutput = outputWrite;
    startup.hStdError = setup.errorsApart ? errorsWrite : outputWrite;

    std::wstring commandLine;
    for (const std::string& arg : args) {
        AppendArgument(commandLine, Wide(arg));
    }
    std::wstring environment = EnvironmentBlock(extraEnvironment, setup.extraEnvironmentOnly);
    const std::wstring program = Wide(args[0]);
    DWORD flags = CREATE_UNICODE_ENVIRONMENT | CREATE_SUSPENDED;
    if (setup.ownGroup) {
        flags |= CREATE_NEW_PROCESS_GROUP;
    }
    PROCESS_INFORMATION started{};
    const BOOL created =
        ::CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE, flags,
                         environment.data(), nullptr, &startup, &started);
    const DWORD createError = ::GetLastError();
    ::CloseHandle(outputWrite);
    if (errorsWrite != nullptr) {
        ::CloseHandle(errorsWrite);
    }
    if (input != INVALID_HANDLE_VALUE) {
        ::CloseHandle(input);
    }
    if (!created) {
        if (inputWrite != nullptr) {
            ::CloseHandle(inputWrite);
        }
        ::_close(outputRead);
        if (errorsRead >= 0) {
            ::_close(errorsRead);
        }
        error = args[0] + ": " + SystemText(createError);
        return false;
    }
    if (setup.ownGroup) {
        // Whatever it starts joins the job too; closing the job's last handle (this process
        // gone) ends them all.
        job_ = ::CreateJobObjectW(nullptr, nullptr);
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
        limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        if (job_ == nullptr ||
            !::SetInformationJobObject(job_, JobObjectExtendedLimitInformation, &limits,
                                       sizeof limits) ||
            !::AssignProcessToJobObject(job_, started.hProcess)) {
            if (job_ != nullptr) {
                ::CloseHandle(job_);
                job_ = nullptr;
            }
        }
        group_ = static_cast<int>(started.dwProcessId);
    }
    ::ResumeThread(started.hThread);
    ::CloseHandle(started.hThread);
    process_ = started.hProcess;
    pid_ = static_cast<int>(started.dwProcessId);
    output_ = outputRead;
    errors_ = errorsRead;
    if (inputWrite != nullptr) {
        input_ = ::_open_osfhandle(reinterpret_cast<intptr_t>(inputWrite), _O_WRONLY | _O_BINARY);
        if (input_ < 0) {
            ::CloseHandle(inputWrite);
        }
    }
    return true;
}

bool ChildProcess::WriteInput(std::string_view text) {
    if (input_ < 0) {
        return false;
    }
    while (!text.empty()) {
        const int put = ::_write(input_, text.data(), static_cast<unsigned>(text.size()));
        if (put <= 0) {
            return false;  // the child has closed its end
        }
        text.remove_prefix(static_cast<std::size_t>(put));
    }
    return true;
}

void ChildProcess::CloseInput() {
    if (input_ >= 0) {
        ::_close(input_);
        input_ = -1;
    }
}

void ChildProcess::Kill() {
    if (job_ != nullptr) {
        ::TerminateJobObject(job_, kKilledStatus);
    } else if (process_ != nullptr) {
        ::TerminateProcess(process_, kKilledStatus);
    }
}

void ChildProcess::Terminate() {
    // Ctrl-Break reaches a console program of its own group that shares this console; a
    // program that has none is ended by Kill after the grace time.
    if (group_ > 0) {
        ::GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, static_cast<DWORD>(group_));
    }
}

bool ChildProcess::ReadOutput(std::string& out) {
    return ReadPipe(output_, out);
}

bool ChildProcess::ReadErrors(std::string& out) {
    return ReadPipe(errors_, out);
}

int ChildProcess::Wait() {
    if (process_ == nullptr) {
        return status_;
    }
    ::WaitForSingleObject(process_, INFINITE);
    status_ = StatusOf(process_);
    ::CloseHandle(process_);
    process_ = nullptr;
    pid_ = -1;
    return status_;
}

std::optional<int> ChildProcess::Ended() {
    if (process_ == nullptr) {
        return status_;
    }
    if (::WaitForSingleObject(process_, 0) != WAIT_OBJECT_0) {
        return std::nullopt;
    }
    return Wait();
}

void WaitForOutput(const std::vector<ChildProcess*>& children, std::chrono::milliseconds timeout) {
    // Anonymous pipes cannot be waited on: they are looked at every few milliseconds.
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        bool watched = false;
        for (const ChildProcess* child : children) {
            for (const int descriptor : {child->OutputDescriptor(), child->ErrorDescriptor()}) {
                if (descriptor < 0) {
                    continue;
                }
                watched = true;
                if (Waiting(descriptor) != 0) {
                    return;  // output, or its end
                }
            }
        }
        const auto now = std::chrono::steady_clock::now();
        if (!watched || now >= deadline) {
            return;
        }
        std::this_thread::sleep_for(
            std::min<std::chrono::steady_clock::duration>(kPollPause, deadline - now));
    }
}

std::string ChildProcessesUnavailable() {
    return {};
}

std::string OwnProgramPath() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) {
            return {};
        }
        if (length < path.size()) {
            path.resize(length);
            break;
        }
        path.resize(path.size() * 2);
    }
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, path.data(), static_cast<int>(path.size()),
                                           nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, path.data(), static_cast<int>(path.size()), utf8.data(), size,
                          nullptr, nullptr);
    return utf8;
}

}  // namespace koru
