#include "platform/append_only_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace koru {
namespace {

constexpr mode_t kFileMode = 0644;

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
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, kFileMode);
    if (fd < 0) {
        error = Reason(path, errno);
        return false;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
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
    // One write: with O_APPEND the kernel places it whole at the end, even beside other
    // writers. A short write is not continued, since a second write could land after another
    // process's record; it is reported instead.
    ssize_t written = -1;
    do {
        written = ::write(fd_, record.data(), record.size());
    } while (written < 0 && errno == EINTR);
    if (written < 0) {
        error = Reason(path_, errno);
        return false;
    }
    if (static_cast<std::size_t>(written) != record.size()) {
        error = path_ + ": only part of the record was written (disk full?)";
        return false;
    }
    if (::fsync(fd_) != 0) {
        error = Reason(path_, errno);
        return false;
    }
    return true;
}

void AppendOnlyFile::Close() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

}  // namespace koru
