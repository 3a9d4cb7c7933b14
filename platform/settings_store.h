#pragma once

// A settings store with the registry's semantics: named values under one key, each either a
// string or a 32-bit number, read back with the type it was written with. On Linux the key is
// a file under $XDG_CONFIG_HOME (default ~/.config) in the text form of a registry export:
//
//   [HKEY_CURRENT_USER\Software\lumatrix]
//   "com"="com1"
//   "auto"=dword:00000079
//
// Saving replaces the file atomically, so a crash leaves the old or the new file, never half of
// one. A file that cannot be read or parsed reads as an empty key, so every value takes its
// default.
//
// On Windows the key is the registry key itself, HKEY_CURRENT_USER\Software\<keyName>, with
// REG_SZ and REG_DWORD values; a value of another type reads as missing, and saving sets this
// store's values and leaves the key's other values as they are.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace koru {

class SettingsStore {
  public:
    // The file of the key "Software\<keyName>" under the user's configuration folder; on
    // Windows the key's path under HKEY_CURRENT_USER.
    static std::string PathForKey(std::string_view keyName);

    explicit SettingsStore(std::string path);

    // Reads the file (the key). False (and an empty key) when it is missing, unreadable or
    // corrupt.
    bool Load();
    // Writes every value to a temporary file beside the target and renames it over the target.
    // False when anything fails; the old file then stays as it was.
    bool Save() const;

    // Nothing when the value is missing or has the other type.
    std::optional<std::string> GetString(std::string_view name) const;
    std::optional<std::uint32_t> GetNumber(std::string_view name) const;

    void SetString(std::string_view name, std::string_view value);
    void SetNumber(std::string_view name, std::uint32_t value);

    const std::string& path() const { return path_; }

  private:
    using Value = std::variant<std::string, std::uint32_t>;

    std::string path_;
    std::string keyName_;
    std::map<std::string, Value, std::less<>> values_;
};

}  // namespace koru
