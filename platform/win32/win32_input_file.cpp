// InputFile on Windows, through the C runtime's descriptors, in binary mode.

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <algorithm>

#include "platform/input_file.h"

namespace koru {

bool InputFile::Open(const std::string& path) {
    fd_ = UniqueFd(::_open(path.c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT));
    struct _stat64 info {};
    if (fd_.Valid() && (::_fstat64(fd_.Get(), &info) != 0 || (info.st_mode & _S_IFREG) == 0)) {
        fd_.Close();
    }
    return fd_.Valid();
}

std::optional<std::uint64_t> InputFile::Size() const {
    struct _stat64 info {};
    if (!fd_.Valid() || ::_fstat64(fd_.Get(), &info) != 0) {
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(info.st_size);
}

std::optional<std::size_t> InputFile::Read(char* out, std::size_t count) {
    if (!fd_.Valid()) {
        return std::nullopt;
    }
    const auto piece = static_cast<unsigned>(std::min<std::size_t>(count, 0x40000000u));
    const int got = ::_read(fd_.Get(), out, piece);
    if (got < 0) {
        return std::nullopt;
    }
    return static_cast<std::size_t>(got);
}

}  // namespace koru
