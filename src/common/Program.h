#pragma once

#include <string>

namespace vantorel {

/// Full path of the running executable (from the system; "" when it cannot be told),
/// or the path set with SetExecutablePath. Settings are keyed by its name and data
/// files are looked for in its folder.
std::string ExecutablePath();

/// Puts a path in place of the executable's own (tests; the command line's choice of
/// program folder). An empty path goes back to the real one.
void SetExecutablePath(const std::string& path);

/// Folder of the executable, with a trailing delimiter.
std::string ProgramFolder();

/// Name of the executable without folder.
std::string ExecutableName();

/// Sets the executable path for the lifetime of this object (tests).
class ScopedExecutablePath {
public:
    explicit ScopedExecutablePath(const std::string& path);
    ~ScopedExecutablePath();
    ScopedExecutablePath(const ScopedExecutablePath&) = delete;
    ScopedExecutablePath& operator=(const ScopedExecutablePath&) = delete;

private:
    std::string previous_;
};

} // namespace vantorel
