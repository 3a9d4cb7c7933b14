#pragma once

// The operator's choices across restarts: seven values under the key "lumatrix", read once into
// the window's check marks while it initialises and written once from them when it closes.

#include <optional>
#include <string>

namespace koru {

class CProgrammerDlg;
class SettingsStore;

// Loads the stored values into the controls and the option words, in this order: data type,
// autofunc (with the counter group shown), auto and the marks it implies, autocount, chip kind,
// Vdd, the COM names' device mapping, and last the probe of the saved port. Anything missing or
// unreadable takes its default.
void LoadSettings(CProgrammerDlg& window);

// Writes the seven values from the controls' state. A store that cannot be written keeps its old
// values. Reads only the window and the option words: it never touches the command block, which
// a running worker may be using.
void SaveSettings(const CProgrammerDlg& window);

// A string value as a fixed eight-byte read buffer takes it: the text up to its first zero
// byte; nothing when it is missing, a number, or longer than seven characters.
std::optional<std::string> ReadShortString(const SettingsStore& store, const char* name);

}  // namespace koru
