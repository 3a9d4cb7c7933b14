// AppendOnlyFile's system calls on Linux: O_APPEND, so the kernel puts every write at the end,
// and fsync.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/append_only_file.h"

namespace koru {
namespace {

constexpr mode_t kFileMode = 0644;

}  // namespace

int AppendOnlyFile::OpenForAppend(const std::string& path) {
    return ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, kFileMode);
}

bool AppendOnlyFile::IsRegularFile(int fd) {
    struct stat info {};
    return ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
}

long long AppendOnlyFile::WriteOnce(int fd, std::string_view record) {
    ssize_t written = -1;
    do {
        written = ::write(fd, record.data(), record.size());
    } while (written < 0 && errno == EINTR);
    return written;
}

bool AppendOnlyFile::SyncToDisk(int fd) {
    return ::fsync(fd) == 0;
}

void AppendOnlyFile::CloseDescriptor(int fd) {
    ::close(fd);
}

}  // namespace koru
