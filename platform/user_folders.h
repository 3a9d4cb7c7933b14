#pragma once

// The folders of the user's own data that the program keeps outside its settings.

#include <string>

namespace koru {

// Where the program keeps what it writes as it works (production records, the line database,
// the queue of unsent records), before its own "lumatrix" folder: on Linux $XDG_STATE_HOME
// when it is an absolute path, else ~/.local/state; on Windows the user's local application
// data (%LOCALAPPDATA%, e.g. C:\Users\NAME\AppData\Local), never the working folder, which for
// a program started from the Start menu is its installation folder.
std::string UserStateFolder();

}  // namespace koru
