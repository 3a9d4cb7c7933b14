#include "linedb/libpq_api.h"

#include <memory>

#include "platform/shared_library.h"

namespace koru {
namespace {

#ifdef _WIN32
constexpr char kLibpqName[] = "libpq.dll";  // beside the program, or on the DLL search path
constexpr char kLibpqHint[] = "libpq.dll and its OpenSSL DLLs belong beside the program";
#else
constexpr char kLibpqName[] = "libpq.so.5";
constexpr char kLibpqHint[] = "install libpq5";
#endif

template <typename Function>
bool Resolve(const SharedLibrary& library, const char* name, Function& function,
             std::string& error) {
    function = reinterpret_cast<Function>(library.Symbol(name));
    if (function == nullptr) {
        error = std::string(kLibpqName) + " has no " + name;
        return false;
    }
    return true;
}

struct LoadedLibpq {
    std::unique_ptr<SharedLibrary> library;  // kept open for the process's life
    LibpqApi api;
    std::string error;  // why it could not be loaded; empty when it was
};

LoadedLibpq Load() {
    LoadedLibpq loaded;
    std::string reason;
    loaded.library = OpenSharedLibrary(kLibpqName, reason);
    if (!loaded.library) {
        loaded.error = std::string("the PostgreSQL client library cannot be loaded (") +
                       kLibpqHint + "): " + reason;
        return loaded;
    }
    const SharedLibrary& lib = *loaded.library;
    LibpqApi& api = loaded.api;
    std::string& error = loaded.error;
    // Each stops at the first missing function, which error then names.
    (void)(Resolve(lib, "PQconnectdb", api.connectdb, error) &&
           Resolve(lib, "PQconnectdbParams", api.connectdbParams, error) &&
           Resolve(lib, "PQstatus", api.status, error) &&
           Resolve(lib, "PQerrorMessage", api.errorMessage, error) &&
           Resolve(lib, "PQfinish", api.finish, error) &&
           Resolve(lib, "PQexecParams", api.execParams, error) &&
           Resolve(lib, "PQresultStatus", api.resultStatus, error) &&
           Resolve(lib, "PQntuples", api.ntuples, error) &&
           Resolve(lib, "PQnfields", api.nfields, error) &&
           Resolve(lib, "PQgetisnull", api.getisnull, error) &&
           Resolve(lib, "PQgetvalue", api.getvalue, error) &&
           Resolve(lib, "PQclear", api.clear, error));
    return loaded;
}

}  // namespace

const LibpqApi* Libpq(std::string& error) {
    static const LoadedLibpq loaded = Load();  // thread-safe once
    if (!loaded.error.empty()) {
        error = loaded.error;
        return nullptr;
    }
    return &loaded.api;
}

}  // namespace koru
