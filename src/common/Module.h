#pragma once

#include <string>

namespace vantorel {

/// Loads one of the program's modules (a shared object beside the program, or where the
/// package installs it: ../lib/vantorel) and returns the address of its entry function,
/// for the caller to cast to the entry's own type; null with the reasons in `failure` when
/// none loads or none has the entry. Modules stay loaded until exit.
void* LoadModuleEntry(const std::string& fileName, const char* entry, std::string& failure);

/// A module loaded for the process: its one instance, or why there is none.
template <class TModule> struct TLoadedModule {
    TModule* Module = nullptr;
    std::string Failure;
};

/// The module whose entry returns its instance as a TModule*, loaded on the first call
/// (on any thread; later calls wait for it and give the same answer).
template <class TModule>
const TLoadedModule<TModule>& LoadModuleOnce(const char* fileName, const char* entry) {
    static const TLoadedModule<TModule> loaded = [&] {
        TLoadedModule<TModule> result;
        using TEntry = TModule* (*)();
        const auto function =
            reinterpret_cast<TEntry>(LoadModuleEntry(fileName, entry, result.Failure));
        result.Module = function != nullptr ? function() : nullptr;
        if (result.Module == nullptr && result.Failure.empty()) {
            result.Failure = std::string(fileName) + " is not the module";
        }
        return result;
    }();
    return loaded;
}

} // namespace vantorel
