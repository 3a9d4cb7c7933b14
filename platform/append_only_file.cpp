// What every backend's append-only file shares: the folders made for it, the checks on what
// was opened and the handling of a write or flush that fails. The calls themselves are each
// system's own.

#include "platform/append_only_file.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

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
    const int fd = OpenForAppend(path);
    if (fd < 0) {
        error = Reason(path, errno);
        return false;
    }
    if (!IsRegularFile(fd)) {
        CloseDescriptor(fd);
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
    // One write: in append mode the system places it whole at the end, even beside other
    // writers. A short write is not continued, since a second write could land after another
    // process's record; it is reported instead.
    const long long written = WriteOnce(fd_, record);
    if (written < 0) {
        error = Reason(path_, errno);
        return false;
    }
    if (static_cast<std::size_t>(written) != record.size()) {
        error = path_ + ": only part of the record was written (disk full?)";
        return false;
    }
    if (!SyncToDisk(fd_)) {
        error = Reason(path_, errno);
        return false;
    }
    return true;
}

void AppendOnlyFile::Close() {
    if (fd_ >= 0) {
        CloseDescriptor(fd_);
        fd_ = -1;
    }
}

}  // namespace koru
