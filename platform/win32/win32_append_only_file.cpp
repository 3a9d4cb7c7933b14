// AppendOnlyFile's calls on Windows: the C runtime's append mode (every write goes to the end
// of the file) and _commit in place of fsync.

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include "platform/append_only_file.h"

namespace koru {

int AppendOnlyFile::OpenForAppend(const std::string& path) {
    return ::_open(path.c_str(), _O_WRONLY | _O_APPEND | _O_CREAT | _O_BINARY | _O_NOINHERIT,
                   _S_IREAD | _S_IWRITE);
}

bool AppendOnlyFile::IsRegularFile(int fd) {
    struct _stat64 info {};
    return ::_fstat64(fd, &info) == 0 && (info.st_mode & _S_IFREG) != 0;
}

long long AppendOnlyFile::WriteOnce(int fd, std::string_view record) {
    return ::_write(fd, record.data(), static_cast<unsigned>(record.size()));
}

bool AppendOnlyFile::SyncToDisk(int fd) {
    return ::_commit(fd) == 0;
}

void AppendOnlyFile::CloseDescriptor(int fd) {
    ::_close(fd);
}

}  // namespace koru
