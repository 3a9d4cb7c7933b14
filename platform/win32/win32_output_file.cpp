// OutputFile and the output check on Windows, through the C runtime's descriptors: a new file
// beside the target, flushed to disk and moved over the target in one step (MoveFileEx, since a
// plain rename refuses an existing target here); devices and pipes are written in place.

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <string>

#include "platform/output_file.h"

namespace koru {

namespace {

constexpr int kNewFileMode = _S_IREAD | _S_IWRITE;
constexpr char kTemporaryInfix[] = ".koru-save-";
constexpr int kTemporaryNameTries = 100;
// Binary: the program writes its own CR LF; no child process inherits the descriptor.
constexpr int kOpenFlags = _O_WRONLY | _O_BINARY | _O_NOINHERIT;

// A console, printer, port, NUL or a pipe: written in place.
bool IsStream(const std::string& path) {
    const HANDLE handle = ::CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                        nullptr, OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return false;
    }
    const DWORD type = ::GetFileType(handle);
    ::CloseHandle(handle);
    return type == FILE_TYPE_CHAR || type == FILE_TYPE_PIPE;
}

bool IsFolder(const std::string& path) {
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

}  // namespace

OutputFile::OutputFile() {
    buffer_.reserve(kBufferBytes);
}

OutputFile::~OutputFile() {
    Abandon();
}

void OutputFile::Fail(int error) {
    failed_ = true;
    error_ = std::strerror(error);
}

void OutputFile::Abandon() {
    fd_.Close();
    if (!temporary_.empty()) {
        ::_unlink(temporary_.c_str());
        temporary_.clear();
    }
}

bool OutputFile::Create(const std::string& path) {
    Abandon();
    buffer_.clear();
    error_.clear();
    failed_ = false;
    target_ = path;
    if (IsStream(path)) {
        fd_ = UniqueFd(::_open(path.c_str(), kOpenFlags));
        if (!fd_.Valid()) {
            Fail(errno);
            return false;
        }
        return true;
    }
    static std::atomic<unsigned> serial{0};
    for (int attempt = 0; attempt < kTemporaryNameTries && !fd_.Valid(); ++attempt) {
        const std::string name = path + kTemporaryInfix + std::to_string(::GetCurrentProcessId()) +
                                 "-" + std::to_string(serial++);
        fd_ = UniqueFd(::_open(name.c_str(), kOpenFlags | _O_CREAT | _O_EXCL, kNewFileMode));
        if (fd_.Valid()) {
            temporary_ = name;
        } else if (errno != EEXIST) {
            break;
        }
    }
    if (!fd_.Valid()) {
        Fail(errno);
        return false;
    }
    return true;
}

bool OutputFile::WriteAll(std::string_view text) {
    std::size_t done = 0;
    while (!failed_ && done < text.size()) {
        const std::size_t left = text.size() - done;
        const unsigned piece = left > 0x40000000u ? 0x40000000u : static_cast<unsigned>(left);
        const int wrote = ::_write(fd_.Get(), text.data() + done, piece);
        if (wrote < 0) {
            Fail(errno);
        } else if (wrote == 0) {
            Fail(EIO);
        } else {
            done += static_cast<std::size_t>(wrote);
        }
    }
    return !failed_;
}

bool OutputFile::Close() {
    if (!fd_.Valid()) {
        return false;
    }
    bool ok = !failed_ && Flush();
    if (ok && !temporary_.empty() && ::_commit(fd_.Get()) != 0) {
        Fail(errno);
        ok = false;
    }
    if (!fd_.Close() && ok) {
        Fail(errno);
        ok = false;
    }
    if (ok && !temporary_.empty()) {
        if (::MoveFileExA(temporary_.c_str(), target_.c_str(),
                          MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) == 0) {
            Fail(EACCES);
            ok = false;
        } else {
            temporary_.clear();
        }
    }
    if (!ok) {
        Abandon();
    }
    failed_ = !ok;
    return ok;
}

OutputCheck CheckOutputPath(const std::string& path) {
    OutputCheck check;
    if (IsFolder(path)) {
        check.problem = std::strerror(EISDIR);
        return check;
    }
    if (IsStream(path)) {
        if (::_access(path.c_str(), 2) != 0) {
            check.problem = std::strerror(errno);
        }
        return check;
    }
    if (::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES) {
        const UniqueFd fd(::_open(path.c_str(), kOpenFlags));
        if (!fd.Valid()) {
            check.problem = std::strerror(errno);
        }
        return check;
    }
    const UniqueFd fd(::_open(path.c_str(), kOpenFlags | _O_CREAT | _O_EXCL, kNewFileMode));
    if (!fd.Valid()) {
        check.problem = std::strerror(errno);
        return check;
    }
    check.created = true;  // the folder took a new file, so it takes the save's temporary too
    return check;
}

void RemoveCreatedFile(const std::string& path) {
    struct _stat64 info {};
    if (::_stat64(path.c_str(), &info) == 0 && (info.st_mode & _S_IFREG) != 0 &&
        info.st_size == 0) {
        ::_unlink(path.c_str());
    }
}

}  // namespace koru
