#pragma once

// Which line database a process uses, and how its name may be shown.

#include <optional>
#include <string>

namespace koru {

// lumatrix/line.sqlite in the user's state folder (platform/user_folders.h): on Linux
// $XDG_STATE_HOME/lumatrix/line.sqlite (default ~/.local/state), on Windows under %LOCALAPPDATA%.
std::string DefaultLineDatabasePath();

// The first of: the command line's --db, the settings value "linedb", the environment's
// KORU_DB; else the default SQLite file.
std::string ChooseLineDatabase(const std::optional<std::string>& commandLine,
                               const std::optional<std::string>& settings);

// A PostgreSQL connection URI (postgres:// or postgresql://) or key=value string; anything
// else names an SQLite file.
bool IsPostgresName(const std::string& name);

// The name with any password replaced by "***", fit for messages and records.
std::string RedactedDatabaseName(const std::string& name);

// text (a message about the database name, such as the client library's) with the name's
// password, as written or decoded, and the name itself made fit to show.
std::string RedactedDatabaseText(const std::string& text, const std::string& name);

}  // namespace koru
