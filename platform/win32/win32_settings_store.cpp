// SettingsStore kept in the registry under HKEY_CURRENT_USER.

#include <windows.h>

#include <cstring>
#include <vector>

#include "platform/settings_store.h"

namespace koru {
namespace {

constexpr DWORD kMaxValueNameChars = 16383;   // the registry's own limit
constexpr DWORD kMaxStringBytes = 64 * 1024;  // far above any value of ours; longer is not ours

// Closes the key on every path out.
class KeyHandle {
  public:
    KeyHandle() = default;
    ~KeyHandle() {
        if (key_ != nullptr) {
            ::RegCloseKey(key_);
        }
    }
    KeyHandle(const KeyHandle&) = delete;
    KeyHandle& operator=(const KeyHandle&) = delete;
    HKEY* Out() { return &key_; }
    HKEY Get() const { return key_; }

  private:
    HKEY key_ = nullptr;
};

}  // namespace

std::string SettingsStore::PathForKey(std::string_view keyName) {
    return "Software\\" + std::string(keyName);
}

SettingsStore::SettingsStore(std::string path) : path_(std::move(path)) {
    const std::size_t slash = path_.rfind('\\');
    keyName_ = slash == std::string::npos ? path_ : path_.substr(slash + 1);
}

bool SettingsStore::Load() {
    values_.clear();
    KeyHandle key;
    if (::RegOpenKeyExA(HKEY_CURRENT_USER, path_.c_str(), 0, KEY_READ, key.Out()) !=
        ERROR_SUCCESS) {
        return false;
    }
    std::vector<char> name(kMaxValueNameChars + 1);
    std::vector<BYTE> data(kMaxStringBytes + 1);
    for (DWORD index = 0;; ++index) {
        DWORD nameChars = static_cast<DWORD>(name.size());
        DWORD dataBytes = kMaxStringBytes;
        DWORD type = 0;
        const LONG status = ::RegEnumValueA(key.Get(), index, name.data(), &nameChars, nullptr,
                                            &type, data.data(), &dataBytes);
        if (status == ERROR_NO_MORE_ITEMS) {
            break;
        }
        if (status != ERROR_SUCCESS) {
            continue;  // a value too long to be ours reads as missing
        }
        const std::string valueName(name.data(), nameChars);
        if (type == REG_SZ) {
            // The stored text may or may not carry its terminating zero.
            std::string text(reinterpret_cast<const char*>(data.data()), dataBytes);
            while (!text.empty() && text.back() == '\0') {
                text.pop_back();
            }
            values_[valueName] = text;
        } else if (type == REG_DWORD && dataBytes == sizeof(DWORD)) {
            DWORD number = 0;
            std::memcpy(&number, data.data(), sizeof number);
            values_[valueName] = static_cast<std::uint32_t>(number);
        }
    }
    return true;
}

bool SettingsStore::Save() const {
    KeyHandle key;
    if (::RegCreateKeyExA(HKEY_CURRENT_USER, path_.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                          KEY_WRITE, nullptr, key.Out(), nullptr) != ERROR_SUCCESS) {
        return false;
    }
    bool allSet = true;
    for (const auto& [name, value] : values_) {
        LONG status;
        if (const auto* text = std::get_if<std::string>(&value)) {
            status = ::RegSetValueExA(key.Get(), name.c_str(), 0, REG_SZ,
                                      reinterpret_cast<const BYTE*>(text->c_str()),
                                      static_cast<DWORD>(text->size() + 1));
        } else {
            const DWORD number = std::get<std::uint32_t>(value);
            status = ::RegSetValueExA(key.Get(), name.c_str(), 0, REG_DWORD,
                                      reinterpret_cast<const BYTE*>(&number), sizeof number);
        }
        allSet = allSet && status == ERROR_SUCCESS;
    }
    return allSet;
}

}  // namespace koru
