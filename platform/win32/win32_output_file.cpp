// OutputFile and the output check on Windows, through the C runtime's descriptors: a new file
// beside the target, flushed to disk and moved over the target in one step (MoveFileEx, since a
// plain rename refuses an existing target here); devices and pipes are written in place.

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "platform/output_file.h"

namespace koru {

namespace {

constexpr int kNewFileMode = _S_IREAD | _S_IWRITE;
constexpr unsigned kLargestWrite = 0x40000000u;
// Binary: the program writes its own CR LF; no child process inherits the descriptor.
constexpr int kOpenFlags = _O_WRONLY | _O_BINARY | _O_NOINHERIT;

// A console, printer, port, NUL or a pipe: written in place.
bool IsStreamPath(const std::string& path) {
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

bool OutputFile::IsStream(const std::string& path) {
    return IsStreamPath(path);
}

int OutputFile::OpenInPlace(const std::string& path) {
    fd_ = UniqueFd(::_open(path.c_str(), kOpenFlags));
    return fd_.Valid() ? 0 : errno;
}

int OutputFile::CreateNew(const std::string& name) {
    fd_ = UniqueFd(::_open(name.c_str(), kOpenFlags | _O_CREAT | _O_EXCL, kNewFileMode));
    return fd_.Valid() ? 0 : errno;
}

std::string OutputFile::ProcessTag() {
    return std::to_string(::GetCurrentProcessId());
}

// Nothing of a replaced file is carried over to its successor here.
void OutputFile::KeepModeOf(const std::string& /*path*/) {}

// At most 1 GiB a call: _write takes an unsigned count.
long long OutputFile::WriteSome(std::string_view text) {
    const unsigned piece =
        text.size() > kLargestWrite ? kLargestWrite : static_cast<unsigned>(text.size());
    return ::_write(fd_.Get(), text.data(), piece);
}

int OutputFile::SyncToDisk() {
    return ::_commit(fd_.Get()) == 0 ? 0 : errno;
}

// MoveFileEx, since a plain rename refuses an existing target here.
int OutputFile::MoveIntoPlace() {
    const BOOL moved = ::MoveFileExA(temporary_.c_str(), target_.c_str(),
                                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    return moved != 0 ? 0 : EACCES;
}

OutputCheck CheckOutputPath(const std::string& path) {
    OutputCheck check;
    if (IsFolder(path)) {
        check.problem = std::strerror(EISDIR);
        return check;
    }
    if (IsStreamPath(path)) {
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
