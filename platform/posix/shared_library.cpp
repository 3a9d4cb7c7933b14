#include "platform/shared_library.h"

#include <dlfcn.h>

namespace koru {
namespace {

class PosixSharedLibrary final : public SharedLibrary {
  public:
    explicit PosixSharedLibrary(void* handle) : handle_(handle) {}
    ~PosixSharedLibrary() override { ::dlclose(handle_); }
    PosixSharedLibrary(const PosixSharedLibrary&) = delete;
    PosixSharedLibrary& operator=(const PosixSharedLibrary&) = delete;

    void* Symbol(const char* name) const override { return ::dlsym(handle_, name); }

  private:
    void* handle_;
};

}  // namespace

std::unique_ptr<SharedLibrary> OpenSharedLibrary(const std::string& name, std::string& error) {
    // RTLD_NOW: a library missing a symbol fails here, with its reason, not at a first call.
    void* handle = ::dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char* reason = ::dlerror();
        error = reason != nullptr ? reason : name + ": cannot be opened";
        return nullptr;
    }
    return std::make_unique<PosixSharedLibrary>(handle);
}

}  // namespace koru
