#pragma once

// The one guard of the settings for tests, benchmarks and tools: while it lives, this
// process's registry files are in a temporary folder of its own, and a write that would
// still reach the user's own settings (someone unset the folder) ends the process with a
// message. Nested guards restore the one outside them.

#include <optional>
#include <string>

namespace vantorel {

class TSettingsSandbox {
public:
    /// What to do when a folder is named already (VANTOREL_REGISTRY_DIR): a fresh one in
    /// its place (tests), or that one (tools run by scripts that prepared it).
    enum class TNamed { Replace, Keep };
    explicit TSettingsSandbox(TNamed named = TNamed::Replace);
    ~TSettingsSandbox();
    TSettingsSandbox(const TSettingsSandbox&) = delete;
    TSettingsSandbox& operator=(const TSettingsSandbox&) = delete;

    /// The folder, ending in a path delimiter.
    const std::string& Folder() const { return folder_; }

private:
    std::string folder_;
    bool own_ = false; ///< the folder is this object's, removed with it
    std::optional<std::string> previousFolder_;
    std::optional<std::string> previousForbid_;
};

} // namespace vantorel
