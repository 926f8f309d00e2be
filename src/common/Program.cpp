#include "common/Program.h"

#include "common/Files.h"

#include <filesystem>
#include <system_error>

namespace vantorel {
namespace {

std::string& OverridePath() {
    static std::string path;
    return path;
}

std::string SystemExecutablePath() {
    std::error_code ec;
    const auto p = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::string() : p.string();
}

} // namespace

std::string ExecutablePath() {
    return OverridePath().empty() ? SystemExecutablePath() : OverridePath();
}

void SetExecutablePath(const std::string& path) {
    OverridePath() = path;
}

std::string ProgramFolder() {
    return ExtractFilePath(ExecutablePath());
}

std::string ExecutableName() {
    return ExtractFileName(ExecutablePath());
}

ScopedExecutablePath::ScopedExecutablePath(const std::string& path) : previous_(OverridePath()) {
    OverridePath() = path;
}

ScopedExecutablePath::~ScopedExecutablePath() {
    OverridePath() = previous_;
}

} // namespace vantorel
