// The queue file on Windows: the whole file locked with LockFileEx (exclusive, waiting) while a
// process adds or takes lines, FlushFileBuffers in place of fsync. The lock goes with the
// handle, so a process that dies holding it frees it.

#include <windows.h>

#include <algorithm>
#include <filesystem>
#include <string_view>

#include "platform/queue_file.h"

namespace koru {
namespace {

std::string Reason(const std::string& path, DWORD code) {
    char text[256] = {};
    const DWORD length =
        ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                         0, text, sizeof text, nullptr);
    std::string reason(text, length);
    while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r' ||
                               reason.back() == ' ' || reason.back() == '.')) {
        reason.pop_back();
    }
    if (reason.empty()) {
        reason = "Windows error " + std::to_string(code);
    }
    return path + ": " + reason;
}

// A file handle that holds the whole file's lock until it is closed.
class LockedFile {
  public:
    LockedFile(const std::string& path, DWORD creation, std::string& error) {
        std::error_code ignored;  // the open below reports what matters
        std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ignored);
        handle_ = ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, creation,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle_ == INVALID_HANDLE_VALUE) {
            error = Reason(path, ::GetLastError());
            return;
        }
        OVERLAPPED whole{};
        if (!::LockFileEx(handle_, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole)) {
            error = Reason(path, ::GetLastError());
            ::CloseHandle(handle_);
            handle_ = INVALID_HANDLE_VALUE;
        }
    }
    ~LockedFile() {
        if (handle_ != INVALID_HANDLE_VALUE) {
            OVERLAPPED whole{};
            ::UnlockFileEx(handle_, 0, MAXDWORD, MAXDWORD, &whole);
            ::CloseHandle(handle_);
        }
    }
    LockedFile(const LockedFile&) = delete;
    LockedFile& operator=(const LockedFile&) = delete;

    bool Valid() const { return handle_ != INVALID_HANDLE_VALUE; }
    HANDLE Get() const { return handle_; }

  private:
    HANDLE handle_ = INVALID_HANDLE_VALUE;
};

// Writes text at the file's current position, whole.
bool WriteAll(HANDLE file, std::string_view text) {
    while (!text.empty()) {
        constexpr std::size_t kLargestWrite = 1u << 30;
        DWORD wrote = 0;
        const DWORD asked = static_cast<DWORD>(std::min(text.size(), kLargestWrite));
        if (!::WriteFile(file, text.data(), asked, &wrote, nullptr) || wrote == 0) {
            return false;
        }
        text.remove_prefix(wrote);
    }
    return true;
}

bool MoveTo(HANDLE file, LONGLONG offset, DWORD from) {
    LARGE_INTEGER distance{};
    distance.QuadPart = offset;
    return ::SetFilePointerEx(file, distance, nullptr, from) != 0;
}

}  // namespace

bool AppendToQueue(const std::string& path, const std::string& text, std::string& error,
                   std::string* damaged) {
    if (damaged != nullptr) {
        damaged->clear();  // a partial last line is not cut off here (see the header)
    }
    const LockedFile file(path, OPEN_ALWAYS, error);
    if (!file.Valid()) {
        return false;
    }
    // Under the lock nobody else writes: the end found here is where the lines go.
    if (!MoveTo(file.Get(), 0, FILE_END) || !WriteAll(file.Get(), text) ||
        !::FlushFileBuffers(file.Get())) {
        error = Reason(path, ::GetLastError());
        return false;
    }
    return true;
}

bool DrainQueue(const std::string& path, const std::function<bool(const std::string&)>& send,
                std::size_t& sent, std::size_t& left, std::string& error) {
    sent = left = 0;
    const LockedFile file(path, OPEN_EXISTING, error);
    if (!file.Valid()) {
        const DWORD code = ::GetLastError();
        if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) {
            error.clear();
            return true;  // no file: an empty queue
        }
        return false;
    }
    std::string text;
    char chunk[4096];
    for (;;) {
        DWORD got = 0;
        if (!::ReadFile(file.Get(), chunk, sizeof chunk, &got, nullptr)) {
            error = Reason(path, ::GetLastError());
            return false;
        }
        if (got == 0) {
            break;
        }
        text.append(chunk, got);
    }
    std::string kept;
    std::size_t begin = 0;
    while (begin < text.size()) {
        const std::size_t end = text.find('\n', begin);
        if (end == std::string::npos) {
            kept += text.substr(begin);  // a line still being written: not ours to judge
            break;
        }
        const std::string line = text.substr(begin, end - begin);
        begin = end + 1;
        if (line.empty()) {
            continue;
        }
        if (send(line)) {
            ++sent;
        } else {
            kept += line + "\n";
            ++left;
        }
    }
    if (sent == 0) {
        return true;
    }
    if (!MoveTo(file.Get(), 0, FILE_BEGIN) || !::SetEndOfFile(file.Get()) ||
        !WriteAll(file.Get(), kept) || !::FlushFileBuffers(file.Get())) {
        error = Reason(path, ::GetLastError());
        return false;
    }
    return true;
}

}  // namespace koru
