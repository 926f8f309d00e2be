#pragma once

#include <string>

namespace vantorel {

/// Loads one of the program's modules (a shared object beside the program, or where the
/// package installs it: ../lib/vantorel) and returns the address of its entry function,
/// for the caller to cast to the entry's own type; null with the reasons in `failure` when
/// none loads or none has the entry. Modules stay loaded until exit.
void* LoadModuleEntry(const std::string& fileName, const char* entry, std::string& failure);

} // namespace vantorel
