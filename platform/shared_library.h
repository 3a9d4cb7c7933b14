#pragma once

// A shared library opened when first needed instead of at start-up: the PostgreSQL client and
// everything it pulls in (TLS, Kerberos, LDAP) cost every window and koru-cli start several
// MiB of memory, though most stations never talk to a server.

#include <memory>
#include <string>

namespace koru {

class SharedLibrary {
  public:
    virtual ~SharedLibrary() = default;
    // The address of a function or object it exports, or null.
    virtual void* Symbol(const char* name) const = 0;
};

// Opens the library by its file name (searched as the system's loader does); nothing with the
// loader's reason in error.
std::unique_ptr<SharedLibrary> OpenSharedLibrary(const std::string& name, std::string& error);

}  // namespace koru
