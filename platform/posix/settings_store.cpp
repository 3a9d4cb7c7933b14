#include "platform/settings_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace koru {
namespace {

constexpr char kHeaderPrefix[] = "[HKEY_CURRENT_USER\\Software\\";
constexpr char kDwordPrefix[] = "dword:";
constexpr std::size_t kDwordDigits = 8;
constexpr std::size_t kMaxFileBytes = 64 * 1024;  // far above any real key; more is not ours

std::string ConfigFolder() {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg != nullptr && xdg[0] == '/') {
        return xdg;
    }
    const char* home = std::getenv("HOME");
    return std::string(home != nullptr ? home : ".") + "/.config";
}

std::string Quote(std::string_view text) {
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') {
            quoted += '\\';
        }
        quoted += c;
    }
    return quoted + "\"";
}

// Reads a quoted text at the start of rest; on success rest is left after the closing quote.
bool Unquote(std::string_view& rest, std::string& out) {
    out.clear();
    if (rest.empty() || rest.front() != '"') {
        return false;
    }
    for (std::size_t i = 1; i < rest.size(); ++i) {
        const char c = rest[i];
        if (c == '\\') {
            if (++i == rest.size()) {
                return false;
            }
            out += rest[i];
        } else if (c == '"') {
            rest.remove_prefix(i + 1);
            return true;
        } else {
            out += c;
        }
    }
    return false;
}

bool ParseDword(std::string_view text, std::uint32_t& value) {
    if (text.size() != kDwordDigits) {
        return false;
    }
    value = 0;
    for (char c : text) {
        int digit;
        if (c >= '0' && c <= '9') {
            digit = c - '0';
        } else if (c >= 'a' && c <= 'f') {
            digit = c - 'a' + 10;
        } else if (c >= 'A' && c <= 'F') {
            digit = c - 'A' + 10;
        } else {
            return false;
        }
        value = value * 16 + static_cast<std::uint32_t>(digit);
    }
    return true;
}

bool MakeFolders(const std::string& path) {
    for (std::size_t slash = path.find('/', 1); slash != std::string::npos;
         slash = path.find('/', slash + 1)) {
        const std::string folder = path.substr(0, slash);
        if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
            return false;
        }
    }
    return true;
}

// Closes the descriptor on every path out.
class FileDescriptor {
  public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }
    bool Close() {
        const int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0;
    }

  private:
    int fd_;
};

bool WriteAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

std::string SettingsStore::PathForKey(std::string_view keyName) {
    return ConfigFolder() + "/" + std::string(keyName) + "/settings.reg";
}

SettingsStore::SettingsStore(std::string path) : path_(std::move(path)) {
    // The key's name is the folder the file lives in.
    const std::size_t fileSlash = path_.rfind('/');
    const std::size_t folderSlash = fileSlash == std::string::npos || fileSlash == 0
                                        ? std::string::npos
                                        : path_.rfind('/', fileSlash - 1);
    keyName_ = fileSlash == std::string::npos
                   ? std::string("lumatrix")
                   : path_.substr(folderSlash + 1, fileSlash - folderSlash - 1);
}

bool SettingsStore::Load() {
    values_.clear();
    std::ifstream file(path_, std::ios::binary);
    if (!file) {
        return false;
    }
    std::string content((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (file.bad() || content.size() > kMaxFileBytes) {
        return false;
    }

    std::map<std::string, Value, std::less<>> parsed;
    std::istringstream lines(content);
    std::string line;
    bool sawHeader = false;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (line.empty()) {
            continue;
        }
        if (!sawHeader) {
            if (line.rfind(kHeaderPrefix, 0) != 0 || line.back() != ']') {
                return false;
            }
            sawHeader = true;
            continue;
        }
        std::string_view rest(line);
        std::string name;
        if (!Unquote(rest, name) || rest.empty() || rest.front() != '=') {
            return false;
        }
        rest.remove_prefix(1);
        if (!rest.empty() && rest.front() == '"') {
            std::string text;
            if (!Unquote(rest, text) || !rest.empty()) {
                return false;
            }
            parsed[name] = text;
        } else if (rest.rfind(kDwordPrefix, 0) == 0) {
            std::uint32_t number = 0;
            if (!ParseDword(rest.substr(sizeof kDwordPrefix - 1), number)) {
                return false;
            }
            parsed[name] = number;
        } else {
            return false;
        }
    }
    if (!sawHeader) {
        return false;
    }
    values_ = std::move(parsed);
    return true;
}

bool SettingsStore::Save() const {
    std::string text = std::string(kHeaderPrefix) + keyName_ + "]\n";
    for (const auto& [name, value] : values_) {
        text += Quote(name) + "=";
        if (const auto* s = std::get_if<std::string>(&value)) {
            text += Quote(*s);
        } else {
            char digits[kDwordDigits + 1];
            std::snprintf(digits, sizeof digits, "%08x", std::get<std::uint32_t>(value));
            text += std::string(kDwordPrefix) + digits;
        }
        text += "\n";
    }

    if (!MakeFolders(path_)) {
        return false;
    }
    std::string temporary = path_ + ".XXXXXX";
    FileDescriptor fd(mkstemp(temporary.data()));
    if (fd.get() < 0) {
        return false;
    }
    const bool written = WriteAll(fd.get(), text) && ::fsync(fd.get()) == 0 && fd.Close();
    if (!written || std::rename(temporary.c_str(), path_.c_str()) != 0) {
        std::remove(temporary.c_str());
        return false;
    }
    return true;
}

}  // namespace koru
