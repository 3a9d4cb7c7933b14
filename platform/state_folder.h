#pragma once

// Where this user's program state lives (production day files, the line database, records
// waiting to be sent): the folder under which "lumatrix" is made.

#include <string>

namespace koru {

// Linux: $XDG_STATE_HOME when it is an absolute path, else ~/.local/state. Windows: the user's
// local application data (%LOCALAPPDATA%, e.g. C:\Users\NAME\AppData\Local), which does not
// roam to other PCs. Empty only when the system names no such folder.
std::string UserStateFolder();

}  // namespace koru
