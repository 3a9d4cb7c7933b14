// The values of a SettingsStore, whatever holds them between runs.

#include "platform/settings_store.h"

namespace koru {

std::optional<std::string> SettingsStore::GetString(std::string_view name) const {
    const auto it = values_.find(name);
    if (it == values_.end()) {
        return std::nullopt;
    }
    if (const auto* s = std::get_if<std::string>(&it->second)) {
        return *s;
    }
    return std::nullopt;
}

std::optional<std::uint32_t> SettingsStore::GetNumber(std::string_view name) const {
    const auto it = values_.find(name);
    if (it == values_.end()) {
        return std::nullopt;
    }
    if (const auto* n = std::get_if<std::uint32_t>(&it->second)) {
        return *n;
    }
    return std::nullopt;
}

void SettingsStore::SetString(std::string_view name, std::string_view value) {
    values_[std::string(name)] = std::string(value);
}

void SettingsStore::SetNumber(std::string_view name, std::uint32_t value) {
    values_[std::string(name)] = value;
}

}  // namespace koru
