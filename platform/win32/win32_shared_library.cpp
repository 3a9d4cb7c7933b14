// A shared library through LoadLibrary.

#include <windows.h>

#include "platform/shared_library.h"

namespace koru {
namespace {

class Win32SharedLibrary final : public SharedLibrary {
  public:
    explicit Win32SharedLibrary(HMODULE module) : module_(module) {}
    ~Win32SharedLibrary() override { ::FreeLibrary(module_); }
    Win32SharedLibrary(const Win32SharedLibrary&) = delete;
    Win32SharedLibrary& operator=(const Win32SharedLibrary&) = delete;

    void* Symbol(const char* name) const override {
        return reinterpret_cast<void*>(::GetProcAddress(module_, name));
    }

  private:
    HMODULE module_;
};

}  // namespace

std::unique_ptr<SharedLibrary> OpenSharedLibrary(const std::string& name, std::string& error) {
    HMODULE module = ::LoadLibraryA(name.c_str());
    if (module == nullptr) {
        error =
            name + ": cannot be loaded (Windows error " + std::to_string(::GetLastError()) + ")";
        return nullptr;
    }
    return std::make_unique<Win32SharedLibrary>(module);
}

}  // namespace koru
