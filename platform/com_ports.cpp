#include "platform/com_ports.h"

#include <array>
#include <cctype>
#include <cstdlib>
#include <mutex>

#include "platform/settings_store.h"

namespace koru {
namespace {

constexpr std::array<const char*, kComPortCount> kComOverrides = {"KORU_COM1", "KORU_COM2",
                                                                  "KORU_COM3", "KORU_COM4"};

std::mutex mappingMutex;
std::array<std::string, kComPortCount> savedMappings;  // guarded by mappingMutex

bool ValidNumber(int number) {
    return number >= 1 && number <= kComPortCount;
}

}  // namespace

int ComNumber(std::string_view name) {
    if (name.size() != 4) {
        return 0;
    }
    for (int i = 0; i < 3; ++i) {
        if (std::toupper(static_cast<unsigned char>(name[i])) != "COM"[i]) {
            return 0;
        }
    }
    const char digit = name[3];
    return digit >= '1' && digit <= '0' + kComPortCount ? digit - '0' : 0;
}

void SetComMapping(int number, std::string_view devicePath) {
    if (!ValidNumber(number)) {
        return;
    }
    std::lock_guard lock(mappingMutex);
    savedMappings[number - 1] = devicePath;
}

std::string ComMapping(int number) {
    if (!ValidNumber(number)) {
        return {};
    }
    std::lock_guard lock(mappingMutex);
    return savedMappings[number - 1];
}

std::string ResolvePortName(std::string_view name) {
    const int number = ComNumber(name);
    if (number == 0) {
        return std::string(name);
    }
    const char* override = std::getenv(kComOverrides[number - 1]);
    if (override != nullptr && *override != '\0') {
        return override;
    }
    std::string saved = ComMapping(number);
    return saved.empty() ? DefaultComDevice(number) : saved;
}

std::string ComMappingValueName(int number) {
    return "com" + std::to_string(number) + "dev";
}

void LoadComMappings(const SettingsStore& store) {
    for (int number = 1; number <= kComPortCount; ++number) {
        SetComMapping(number, store.GetString(ComMappingValueName(number)).value_or(""));
    }
}

void StoreComMappings(SettingsStore& store) {
    for (int number = 1; number <= kComPortCount; ++number) {
        store.SetString(ComMappingValueName(number), ComMapping(number));
    }
}

}  // namespace koru
