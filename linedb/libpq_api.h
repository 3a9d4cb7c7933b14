#pragma once

// The PostgreSQL client library's functions, taken from libpq when a PostgreSQL database is
// first opened rather than linked: a station on SQLite never loads it.

#include <libpq-fe.h>

#include <string>

namespace koru {

struct LibpqApi {
    decltype(&::PQconnectdb) connectdb = nullptr;
    decltype(&::PQconnectdbParams) connectdbParams = nullptr;
    decltype(&::PQstatus) status = nullptr;
    decltype(&::PQerrorMessage) errorMessage = nullptr;
    decltype(&::PQfinish) finish = nullptr;
    decltype(&::PQexecParams) execParams = nullptr;
    decltype(&::PQresultStatus) resultStatus = nullptr;
    decltype(&::PQntuples) ntuples = nullptr;
    decltype(&::PQnfields) nfields = nullptr;
    decltype(&::PQgetisnull) getisnull = nullptr;
    decltype(&::PQgetvalue) getvalue = nullptr;
    decltype(&::PQclear) clear = nullptr;
};

// The library's functions, loaded once per process; null with the reason in error when the
// library (Debian's libpq5) is missing or lacks one of them.
const LibpqApi* Libpq(std::string& error);

}  // namespace koru
