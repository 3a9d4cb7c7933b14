#include "platform/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace koru {

namespace {

constexpr mode_t kNewFileMode = 0666;  // narrowed by the process's umask

// Pipes, FIFOs, terminals and other devices are written in place.
bool IsStreamKind(const struct stat& info) {
    return S_ISFIFO(info.st_mode) || S_ISCHR(info.st_mode) || S_ISSOCK(info.st_mode);
}

std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Makes a rename in folder durable; a failure here cannot undo the save and is not reported.
void SyncFolder(const std::string& folder) {
    const UniqueFd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.Valid()) {
        ::fsync(fd.Get());
    }
}

}  // namespace

bool OutputFile::IsStream(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && IsStreamKind(info);
}

int OutputFile::OpenInPlace(const std::string& path) {
    // Non-blocking only for the open, so that a FIFO without a reader is refused instead of
    // waited for; then blocking, so that a slow reader is waited for.
    fd_ = UniqueFd(::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd_.Valid()) {
        return errno;
    }
    const int flags = ::fcntl(fd_.Get(), F_GETFL);
    if (flags < 0 || ::fcntl(fd_.Get(), F_SETFL, flags & ~O_NONBLOCK) != 0) {
        return errno;
    }
    return 0;
}

int OutputFile::CreateNew(const std::string& name) {
    fd_ = UniqueFd(::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, kNewFileMode));
    return fd_.Valid() ? 0 : errno;
}

std::string OutputFile::ProcessTag() {
    return std::to_string(::getpid());
}

// The umask narrows a new file's mode as for any new file; a file that is replaced keeps the
// mode it had.
void OutputFile::KeepModeOf(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode)) {
        ::fchmod(fd_.Get(), info.st_mode & 07777);
    }
}

long long OutputFile::WriteSome(std::string_view text) {
    ssize_t wrote = -1;
    do {
        wrote = ::write(fd_.Get(), text.data(), text.size());
    } while (wrote < 0 && errno == EINTR);
    return wrote;
}

int OutputFile::SyncToDisk() {
    return ::fsync(fd_.Get()) == 0 ? 0 : errno;
}

int OutputFile::MoveIntoPlace() {
    if (::rename(temporary_.c_str(), target_.c_str()) != 0) {
        return errno;
    }
    SyncFolder(FolderOf(target_));
    return 0;
}

OutputCheck CheckOutputPath(const std::string& path) {
    OutputCheck check;
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0) {
        if (S_ISDIR(info.st_mode)) {
            check.problem = std::strerror(EISDIR);
            return check;
        }
        if (IsStreamKind(info)) {
            if (::access(path.c_str(), W_OK) != 0) {
                check.problem = std::strerror(errno);
            }
            return check;
        }
        const UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NONBLOCK));
        if (!fd.Valid()) {
            check.problem = std::strerror(errno);
            return check;
        }
    } else {
        const UniqueFd fd(
            ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, kNewFileMode));
        if (!fd.Valid()) {
            check.problem = std::strerror(errno);
            return check;
        }
        check.created = true;
    }
    // The save writes a new file beside the target and renames it: the folder must take one.
    if (::access(FolderOf(path).c_str(), W_OK | X_OK) != 0) {
        check.problem = std::strerror(errno);
        if (check.created) {
            ::unlink(path.c_str());
            check.created = false;
        }
    }
    return check;
}

void RemoveCreatedFile(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && info.st_size == 0) {
        ::unlink(path.c_str());
    }
}

}  // namespace koru
