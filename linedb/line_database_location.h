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

// A PostgreSQL connection URI (postgres:// or postgresql://, in any case) or key=value
// string; anything else names an SQLite file.
bool IsPostgresName(const std::string& name);

// Why name cannot be a line database: a URI of another scheme, something that starts like a
// URI ("postgresql:/..." mistyped, "file:", ":memory:"), a folder. Empty when it can (it is
// then never opened as a file by mistake). The reason shows the name redacted.
std::string DatabaseNameProblem(const std::string& name);

// The name with any password replaced by "***", fit for messages and records: the one way a
// database name is shown. Covers a URI's user information (of any scheme, even with '@', '/'
// or '?' left unencoded in the password) and password= and sslpassword= settings, quoted or
// not, in a key=value string or a URI's query.
std::string RedactedDatabaseName(const std::string& name);

// text (a message about the database name, such as the client library's) with the name's
// password, as written or decoded, and the name itself made fit to show.
std::string RedactedDatabaseText(const std::string& text, const std::string& name);

}  // namespace koru
