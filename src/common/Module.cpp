#include "common/Module.h"

#include <dlfcn.h>

#include <filesystem>
#include <system_error>

namespace vantorel {

void* LoadModuleEntry(const std::string& fileName, const char* entry, std::string& failure) {
    // The real program's folder, not a test's stand-in path: the module is built beside it.
    std::error_code ec;
    const std::filesystem::path folder =
        std::filesystem::read_symlink("/proc/self/exe", ec).parent_path();
    failure.clear();
    for (const std::filesystem::path& at :
         {folder / fileName, folder / ".." / "lib" / "vantorel" / fileName}) {
        void* handle = dlopen(at.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle == nullptr) {
            const char* why = dlerror();
            failure +=
                (failure.empty() ? "" : "; ") + std::string(why != nullptr ? why : at.c_str());
            continue;
        }
        if (void* function = dlsym(handle, entry)) {
            failure.clear();
            return function;
        }
        failure += (failure.empty() ? "" : "; ") + at.string() + " is not the module";
    }
    return nullptr;
}

} // namespace vantorel
