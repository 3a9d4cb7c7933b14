// AppendOnlyFile on Windows: the C runtime's append mode (every write goes to the end of the
// file) and _commit in place of fsync.

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "platform/append_only_file.h"

namespace koru {
namespace {

std::string Reason(const std::string& path, int error) {
    return path + ": " + std::strerror(error);
}

}  // namespace

AppendOnlyFile::~AppendOnlyFile() {
    Close();
}

bool AppendOnlyFile::Open(const std::string& path, std::string& error) {
    Close();
    const std::filesystem::path folder = std::filesystem::path(path).parent_path();
    if (!folder.empty()) {
        std::error_code ignored;  // the open below reports what matters
        std::filesystem::create_directories(folder, ignored);
    }
    const int fd =
        ::_open(path.c_str(), _O_WRONLY | _O_APPEND | _O_CREAT | _O_BINARY | _O_NOINHERIT,
                _S_IREAD | _S_IWRITE);
    if (fd < 0) {
        error = Reason(path, errno);
        return false;
    }
    struct _stat64 info {};
    if (::_fstat64(fd, &info) != 0 || (info.st_mode & _S_IFREG) == 0) {
        ::_close(fd);
        error = path + ": not a regular file";
        return false;
    }
    fd_ = fd;
    path_ = path;
    return true;
}

bool AppendOnlyFile::Append(std::string_view record, std::string& error) {
    if (fd_ < 0) {
        error = "the record file is not open";
        return false;
    }
    // One write, never continued: a second one could land after another process's record.
    const int written = ::_write(fd_, record.data(), static_cast<unsigned>(record.size()));
    if (written < 0) {
        error = Reason(path_, errno);
        return false;
    }
    if (static_cast<std::size_t>(written) != record.size()) {
        error = path_ + ": only part of the record was written (disk full?)";
        return false;
    }
    if (::_commit(fd_) != 0) {
        error = Reason(path_, errno);
        return false;
    }
    return true;
}

void AppendOnlyFile::Close() {
    if (fd_ >= 0) {
        ::_close(fd_);
        fd_ = -1;
    }
}

}  // namespace koru
