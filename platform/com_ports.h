#pragma once

// The operator's port names COM1..COM4 and the device each stands for. A name maps, in this
// order, to: KORU_COMn in the environment (for one run), the device saved in the settings
// (stable /dev/serial/by-id/ paths are preferred there, so a re-plugged adapter keeps its
// name), then the system's default: /dev/ttyS0..3 on Linux, the port COM1..COM4 itself on
// Windows (where a USB adapter's COM7 can so stand behind the window's COM1). Any other name
// is a device path (or a Windows port name) already.

#include <string>
#include <string_view>

namespace koru {

class SettingsStore;

inline constexpr int kComPortCount = 4;

// 1..4 for "COM1".."COM4" in any case, else 0.
int ComNumber(std::string_view name);

// The system's default for 1..4: "/dev/ttyS0".."/dev/ttyS3" on Linux, "COM1".."COM4" on
// Windows (defined by the platform's backend); empty for any other number.
std::string DefaultComDevice(int number);

// The saved mapping of COMnumber; empty clears it (the default applies). Shared by every
// thread of the process; front ends set it from their settings.
void SetComMapping(int number, std::string_view devicePath);
std::string ComMapping(int number);

// The device path the name stands for, as described above.
std::string ResolvePortName(std::string_view name);

// The settings values that hold the mapping, "com1dev".."com4dev" for 1..4.
std::string ComMappingValueName(int number);
// Takes the saved mapping from the store (a missing or non-string value clears it), or writes
// the current mapping into it (an empty mapping as an empty string).
void LoadComMappings(const SettingsStore& store);
void StoreComMappings(SettingsStore& store);

}  // namespace koru
