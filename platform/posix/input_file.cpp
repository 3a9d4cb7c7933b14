#include "platform/input_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace koru {

bool InputFile::Open(const std::string& path) {
    fd_ = UniqueFd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    struct stat info {};
    if (fd_.Valid() && (::fstat(fd_.Get(), &info) != 0 || !S_ISREG(info.st_mode))) {
        fd_.Close();
    }
    return fd_.Valid();
}

std::optional<std::uint64_t> InputFile::Size() const {
    struct stat info {};
    if (!fd_.Valid() || ::fstat(fd_.Get(), &info) != 0) {
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(info.st_size);
}

std::optional<std::size_t> InputFile::Read(char* out, std::size_t count) {
    if (!fd_.Valid()) {
        return std::nullopt;
    }
    for (;;) {
        const ssize_t got = ::read(fd_.Get(), out, count);
        if (got >= 0) {
            return static_cast<std::size_t>(got);
        }
        if (errno != EINTR) {
            return std::nullopt;
        }
    }
}

}  // namespace koru
