// The queue file on Windows: PATH.lock locked whole with LockFileEx (exclusive, waiting) while a
// process adds or takes lines, FlushFileBuffers in place of fsync, and a rewrite through
// PATH.new moved over the queue with MoveFileEx (write-through). The lock has a file of its own
// because the queue itself is replaced; it goes with the handle, so a process that dies holding
// it frees it.

#include <windows.h>

#include <algorithm>
#include <filesystem>
#include <string_view>

#include "platform/queue_file.h"
#include "platform/queue_lines.h"

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

// A file handle, closed with the object; lock (when set) takes the whole file's lock, held
// until then.
class File {
  public:
    File(const std::string& path, DWORD creation, std::string& error, bool lock = false) {
        handle_ = ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                creation, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle_ == INVALID_HANDLE_VALUE) {
            code_ = ::GetLastError();
            error = Reason(path, code_);
            return;
        }
        OVERLAPPED whole{};
        if (lock &&
            !::LockFileEx(handle_, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole)) {
            code_ = ::GetLastError();
            error = Reason(path, code_);
            ::CloseHandle(handle_);
            handle_ = INVALID_HANDLE_VALUE;
        }
        locked_ = lock;
    }
    ~File() {
        if (handle_ != INVALID_HANDLE_VALUE) {
            if (locked_) {
                OVERLAPPED whole{};
                ::UnlockFileEx(handle_, 0, MAXDWORD, MAXDWORD, &whole);
            }
            ::CloseHandle(handle_);
        }
    }
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    bool Valid() const { return handle_ != INVALID_HANDLE_VALUE; }
    HANDLE Get() const { return handle_; }
    DWORD OpenError() const { return code_; }

  private:
    HANDLE handle_ = INVALID_HANDLE_VALUE;
    DWORD code_ = 0;
    bool locked_ = false;
};

// The queue's lock, on PATH.lock, made with its folder when new.
File Lock(const std::string& path, std::string& error) {
    std::error_code ignored;  // the open reports what matters
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ignored);
    return File(path + ".lock", OPEN_ALWAYS, error, true);
}

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

bool ReadAll(HANDLE file, std::string& text) {
    char chunk[4096];
    for (;;) {
        DWORD got = 0;
        if (!::ReadFile(file, chunk, sizeof chunk, &got, nullptr)) {
            return false;
        }
        if (got == 0) {
            return true;
        }
        text.append(chunk, got);
    }
}

// Keeps tail (a partial line a crash left) in PATH.damaged, flushed.
bool KeepDamaged(const std::string& path, const std::string& tail, std::string& error) {
    const File damaged(path + ".damaged", OPEN_ALWAYS, error);
    if (!damaged.Valid()) {
        return false;
    }
    if (!MoveTo(damaged.Get(), 0, FILE_END) || !WriteAll(damaged.Get(), tail + "\n") ||
        !::FlushFileBuffers(damaged.Get())) {
        error = Reason(path + ".damaged", ::GetLastError());
        return false;
    }
    return true;
}

// Cuts a partial last line off file into PATH.damaged; damaged says so. The file's end is read
// first, and all of it only when the last byte is not a new line.
bool CutPartialLine(HANDLE file, const std::string& path, std::string& error,
                    std::string* damaged) {
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(file, &size)) {
        error = Reason(path, ::GetLastError());
        return false;
    }
    if (size.QuadPart == 0) {
        return true;
    }
    char last = '\n';
    DWORD got = 0;
    if (!MoveTo(file, size.QuadPart - 1, FILE_BEGIN) ||
        !::ReadFile(file, &last, 1, &got, nullptr)) {
        error = Reason(path, ::GetLastError());
        return false;
    }
    if (got != 1 || last == '\n') {
        return true;
    }
    std::string all;
    if (!MoveTo(file, 0, FILE_BEGIN) || !ReadAll(file, all)) {
        error = Reason(path, ::GetLastError());
        return false;
    }
    const std::size_t keep = WholeLinesLength(all);
    if (!KeepDamaged(path, all.substr(keep), error)) {
        return false;
    }
    if (!MoveTo(file, static_cast<LONGLONG>(keep), FILE_BEGIN) || !::SetEndOfFile(file) ||
        !::FlushFileBuffers(file)) {
        error = Reason(path, ::GetLastError());
        return false;
    }
    if (damaged != nullptr) {
        *damaged = DamagedText(path, all.size() - keep);
    }
    return true;
}

// Writes text as the queue's new contents: a new file, flushed, moved over the old one.
bool Replace(const std::string& path, const std::string& text, std::string& error) {
    const std::string newPath = path + ".new";
    {
        const File file(newPath, CREATE_ALWAYS, error);
        if (!file.Valid()) {
            return false;
        }
        if (!WriteAll(file.Get(), text) || !::FlushFileBuffers(file.Get())) {
            error = Reason(newPath, ::GetLastError());
            return false;
        }
    }
    if (!::MoveFileExA(newPath.c_str(), path.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        error = Reason(path, ::GetLastError());
        return false;
    }
    return true;
}

}  // namespace

bool AppendToQueue(const std::string& path, const std::string& text, std::string& error,
                   std::string* damaged) {
    if (damaged != nullptr) {
        damaged->clear();
    }
    const File lock = Lock(path, error);
    if (!lock.Valid()) {
        return false;
    }
    const File file(path, OPEN_ALWAYS, error);
    if (!file.Valid() || !CutPartialLine(file.Get(), path, error, damaged)) {
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
    std::error_code ignored;
    if (!std::filesystem::exists(path, ignored)) {
        return true;
    }
    const File lock = Lock(path, error);
    if (!lock.Valid()) {
        return false;
    }
    std::string text;
    {
        const File file(path, OPEN_EXISTING, error);
        if (!file.Valid()) {
            const DWORD code = file.OpenError();
            if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) {
                error.clear();
                return true;  // no file: an empty queue
            }
            return false;
        }
        if (!ReadAll(file.Get(), text)) {
            error = Reason(path, ::GetLastError());
            return false;
        }
    }
    const std::string kept = DrainLines(text, send, sent, left);
    if (sent == 0) {
        return true;
    }
    return Replace(path, kept, error);
}

}  // namespace koru
